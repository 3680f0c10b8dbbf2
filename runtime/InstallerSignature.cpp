#include "runtime/InstallerSignature.h"

// wincrypt.h and wintrust.h build on windows.h, softpub.h on wintrust.h.
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <cstdio>

#include "common/FailureLog.h"
#include "common/Text.h"

namespace runtime {
namespace {

// Chain states that mean the signature does not lead to a trusted root. The
// verifier's answer is not the only word on trust: the chain its provider
// built must itself end in a trusted root. The system's Authenticode policy
// refuses each of these states, so where that policy runs this never changes
// its verdict; a provider whose final step skips the chain policy would
// otherwise pass a signature from a root nobody trusts.
// Revocation that could not be checked is left to that policy: it accepts an
// unreachable revocation server, and so does this program.
constexpr DWORD kUntrustedChain = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                  CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_CYCLIC |
                                  CERT_TRUST_IS_EXPLICIT_DISTRUST;

// The verifier's state between its verify and close actions.
class TrustState {
 public:
  TrustState(const std::wstring& path, HANDLE file, RevocationSource revocation) {
    fileInfo_.cbStruct = sizeof(fileInfo_);
    fileInfo_.pcwszFilePath = path.c_str();
    fileInfo_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    // Revocation is checked for every certificate below the root: a publisher
    // key that was stolen and revoked must not install anything. A download
    // came from the network a moment ago, so the revocation servers are
    // usually within reach; when they are not, the system's policy accepts
    // the signature, so a filtered network does not block the install. The
    // player's check of its own file asks the cache only: no network call
    // on the way to a lesson.
    data_.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data_.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    if (revocation == RevocationSource::CacheOnly) data_.dwProvFlags |= WTD_CACHE_ONLY_URL_RETRIEVAL;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &fileInfo_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    data_.dwUIContext = WTD_UICONTEXT_EXECUTE;
    result_ = Call();
  }
  ~TrustState() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    MIRAVELL_LOG_IF_WIN32_ERROR(Call());
  }
  TrustState(const TrustState&) = delete;
  TrustState& operator=(const TrustState&) = delete;

  [[nodiscard]] LONG result() const { return result_; }

  // The primary signer, while the state lasts; null when there is none.
  [[nodiscard]] CRYPT_PROVIDER_SGNR* Signer() const {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
    return provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
  }

 private:
  LONG Call() {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE: no user to ask; the verdict is the program's.
    return ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data_);
  }

  WINTRUST_FILE_INFO fileInfo_{};
  WINTRUST_DATA data_{};
  LONG result_ = 0;
};

std::wstring SubjectName(PCCERT_CONTEXT certificate) {
  const DWORD size = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
  if (size <= 1) return {};
  std::wstring name(size, L'\0');
  const DWORD written = ::CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), size);
  name.resize(written > 0 ? written - 1 : 0);
  return name;
}

// Only a plain file: a link could be pointed elsewhere once checked, since
// the handle would hold the link and not what it names.
bool PlainFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information)) return false;
  return (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

// The SHA-1 thumbprint of the last certificate of the signer's chain, in
// upper-case hex; empty without one.
std::wstring RootThumbprint(const CERT_CHAIN_CONTEXT* chain) {
  if (chain == nullptr || chain->cChain == 0 || chain->rgpChain[0] == nullptr) return {};
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  if (simple->cElement == 0 || simple->rgpElement[simple->cElement - 1] == nullptr) return {};
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  BYTE hash[20] = {};
  DWORD size = sizeof(hash);
  if (root == nullptr || !::CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, hash, &size) ||
      size != sizeof(hash)) {
    return {};
  }
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (const BYTE byte : hash) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

bool SameHex(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

const char* VerdictName(InstallerVerdict verdict) {
  switch (verdict) {
    case InstallerVerdict::Accepted:
      return "accepted";
    case InstallerVerdict::NotOpened:
      return "not opened";
    case InstallerVerdict::Untrusted:
      return "untrusted";
    case InstallerVerdict::OtherPublisher:
      return "other publisher";
    case InstallerVerdict::OtherRoot:
      return "other root";
  }
  return "?";
}

}  // namespace

InstallerVerdict JudgeInstallerSignature(LONG trustResult, DWORD chainErrors, std::wstring_view signerName,
                                         std::wstring_view rootThumbprint, const ExpectedSigner& expected) {
  if (trustResult != ERROR_SUCCESS || (chainErrors & kUntrustedChain) != 0) return InstallerVerdict::Untrusted;
  // Whole name, exact: a name that only contains or starts with the
  // publisher's is someone else's. An empty expected name accepts no one.
  if (expected.publisher.empty() || signerName != expected.publisher) return InstallerVerdict::OtherPublisher;
  // Every root the machine trusts can name anyone; only the publisher's own
  // root vouches for the name. An empty expected root accepts none.
  if (expected.rootThumbprint.empty() || !SameHex(rootThumbprint, expected.rootThumbprint)) {
    return InstallerVerdict::OtherRoot;
  }
  return InstallerVerdict::Accepted;
}

SignatureFacts ReadFileSignature(const std::wstring& path, HANDLE file, RevocationSource revocation) {
  SignatureFacts facts;
  TrustState trust(path, file, revocation);
  facts.trustResult = trust.result();
  // Without a chain nothing leads to a trusted root.
  facts.chainErrors = kUntrustedChain;
  if (CRYPT_PROVIDER_SGNR* signer = trust.Signer()) {
    if (signer->pChainContext != nullptr) facts.chainErrors = signer->pChainContext->TrustStatus.dwErrorStatus;
    facts.rootThumbprint = RootThumbprint(signer->pChainContext);
    const CRYPT_PROVIDER_CERT* leaf = ::WTHelperGetProvCertFromChain(signer, 0);
    if (leaf != nullptr && leaf->pCert != nullptr) {
      facts.signerName = SubjectName(leaf->pCert);
      facts.signer.reset(::CertDuplicateCertificateContext(leaf->pCert));
    }
  }
  return facts;
}

InstallerCheck CheckInstaller(const std::wstring& path, const ExpectedSigner& expected) {
  InstallerCheck check;
  check.file.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!check.file || !PlainFile(check.file.get())) {
    check.file.reset();
    return check;
  }

  const SignatureFacts facts = ReadFileSignature(path, check.file.get(), RevocationSource::Network);
  check.trustResult = facts.trustResult;
  check.chainErrors = facts.chainErrors;
  check.signerName = facts.signerName;
  check.rootThumbprint = facts.rootThumbprint;
  check.verdict =
      JudgeInstallerSignature(check.trustResult, check.chainErrors, check.signerName, check.rootThumbprint, expected);
  if (check.verdict != InstallerVerdict::Accepted) check.file.reset();
  return check;
}

std::string DescribeInstallerCheck(const InstallerCheck& check) {
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), " (trust 0x%08lX, chain 0x%08lX",
                static_cast<unsigned long>(check.trustResult), static_cast<unsigned long>(check.chainErrors));
  return std::string(VerdictName(check.verdict)) + numbers + ", signer \"" + WideToUtf8(check.signerName) +
         "\", root " + WideToUtf8(check.rootThumbprint) + ")";
}

}  // namespace runtime
