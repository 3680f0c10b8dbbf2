#include "tests/support/TestSupport.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "common/Handles.h"
#include "common/Text.h"

namespace testing_support {

std::wstring ExeDir() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  const auto slash = dir.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : dir.substr(0, slash);
}

std::wstring BuildProgram(std::wstring_view fileName) { return ExeDir() + L"\\" + std::wstring(fileName); }

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) return {};
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::vector<std::uint8_t> AsciiBytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Utf16Bytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const wchar_t unit : Utf8ToWide(text)) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  }
  return bytes;
}

std::wstring HostPath(std::string_view path) {
  std::wstring wide = Utf8ToWide(path);
  if (!wide.empty() && wide[0] == L'/') wide = L"Z:" + wide;
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

namespace {

// The user's root store; written to the registry when closed.
struct UserRoots {
  UserRoots() : store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root")) {}
  ~UserRoots() {
    if (store != nullptr) ::CertCloseStore(store, 0);
  }
  UserRoots(const UserRoots&) = delete;
  UserRoots& operator=(const UserRoots&) = delete;
  HCERTSTORE store;
};

}  // namespace

std::vector<BYTE> PemCertificate(const std::wstring& pemPath) {
  const std::vector<std::uint8_t> pem = ReadFileBytes(pemPath);
  const auto* text = reinterpret_cast<const char*>(pem.data());
  DWORD size = 0;
  if (pem.empty() || !::CryptStringToBinaryA(text, static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                             &size, nullptr, nullptr)) {
    return {};
  }
  std::vector<BYTE> der(size);
  if (!::CryptStringToBinaryA(text, static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                              nullptr, nullptr)) {
    return {};
  }
  return der;
}

std::wstring Sha1Thumbprint(const std::vector<BYTE>& der) {
  const UniqueCertContext certificate(
      der.empty() ? nullptr
                  : ::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
  BYTE hash[20] = {};
  DWORD hashSize = sizeof(hash);
  if (!certificate ||
      !::CertGetCertificateContextProperty(certificate.get(), CERT_SHA1_HASH_PROP_ID, hash, &hashSize)) {
    return {};
  }
  std::string hex;
  for (DWORD i = 0; i < hashSize; ++i) AppendHexByte(hex, hash[i], HexCase::Upper);
  return WidenBytes(hex);
}

ScopedTrustedRoot::ScopedTrustedRoot(const std::wstring& pemPath) {
  std::vector<BYTE> der = PemCertificate(pemPath);
  if (der.empty()) return;
  UserRoots roots;
  if (roots.store == nullptr) return;
  // No context is kept: one that lives keeps the store open, and an open
  // store has not yet written the new root where other chains look.
  if (::CertAddEncodedCertificateToStore(roots.store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_NEW, nullptr)) {
    trusted_ = true;
    added_ = std::move(der);
  } else {
    trusted_ = ::GetLastError() == static_cast<DWORD>(CRYPT_E_EXISTS);
  }
}

ScopedTrustedRoot::~ScopedTrustedRoot() {
  if (added_.empty()) return;
  UserRoots roots;
  if (roots.store == nullptr) return;
  PCCERT_CONTEXT wanted =
      ::CertCreateCertificateContext(X509_ASN_ENCODING, added_.data(), static_cast<DWORD>(added_.size()));
  if (wanted == nullptr) return;
  // Deleting frees the found context.
  PCCERT_CONTEXT found =
      ::CertFindCertificateInStore(roots.store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
  if (found != nullptr) ::CertDeleteCertificateFromStore(found);
  // Wine's store forgets the root but leaves it in the registry, where the
  // next process finds it trusted; the key is named by the SHA-1 thumbprint.
  if (const std::wstring thumbprint = Sha1Thumbprint(added_); !thumbprint.empty()) {
    const std::wstring key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint;
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  }
  ::CertFreeCertificateContext(wanted);
}

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testing_support
