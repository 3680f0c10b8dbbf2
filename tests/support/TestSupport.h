#pragma once
// Small helpers shared by the unit tests.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Folder of the running test binary; every program of the build lands there.
std::wstring ExeDir();

// Path of a program of the build, next to the test binary.
std::wstring BuildProgram(std::wstring_view fileName);

// Whole file, or an empty vector when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path);

// Whether needle occurs in haystack (byte comparison).
bool Contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle);

// The bytes of a text as ASCII/UTF-8 and as UTF-16LE.
std::vector<std::uint8_t> AsciiBytes(std::string_view text);
std::vector<std::uint8_t> Utf16Bytes(std::string_view text);

// Whether the tests run under Wine (for the few places where it differs).
bool RunningUnderWine();

// A path the build gave as text: Unix paths are shown by Wine as drive Z:.
std::wstring HostPath(std::string_view path);

// The DER bytes of a PEM certificate file; empty when it cannot be read.
std::vector<BYTE> PemCertificate(const std::wstring& pemPath);

// The SHA-1 thumbprint of a DER certificate in upper-case hex, the form
// Windows names certificates by; empty when it cannot be had.
std::wstring Sha1Thumbprint(const std::vector<BYTE>& der);

// Makes the current user trust a root certificate (a PEM file) while the
// object lives; a root trusted before stays trusted after.
class ScopedTrustedRoot {
 public:
  explicit ScopedTrustedRoot(const std::wstring& pemPath);
  ~ScopedTrustedRoot();
  ScopedTrustedRoot(const ScopedTrustedRoot&) = delete;
  ScopedTrustedRoot& operator=(const ScopedTrustedRoot&) = delete;
  [[nodiscard]] bool trusted() const { return trusted_; }

 private:
  bool trusted_ = false;
  std::vector<BYTE> added_;  // the certificate this object put into the user's root store
};

}  // namespace testing_support
