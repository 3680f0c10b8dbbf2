// The files the build signed, checked by the system's Authenticode verifier
// through the player's own check (runtime::CheckInstaller), as Windows checks
// them before it runs them: with the signing chain's root trusted, without
// it, and a copy changed after signing. Then what the verifier makes of
// signatures the build's signing step refuses to make.
//
//   signed_files_tests [gtest flags] ROOT.pem PUBLISHER VARIANTS_DIR FILE...
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they build on.
#include <wincrypt.h>
#include <wintrust.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "common/Text.h"
#include "runtime/InstallerSignature.h"
#include "tests/support/TestSupport.h"

namespace {

using runtime::InstallerVerdict;

struct Arguments {
  std::wstring root;
  // The SHA-1 thumbprint of root, the only root the check accepts.
  std::wstring rootThumbprint;
  std::wstring publisher;
  std::wstring variants;
  std::vector<std::wstring> files;
};

Arguments& Given() {
  static Arguments arguments;
  return arguments;
}

std::wstring FileName(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

// A copy of the file with one byte of the DOS stub's message changed: the
// signature covers it, and nothing else about the file changes.
std::wstring TamperedCopy(const std::wstring& path) {
  std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(path);
  const std::vector<std::uint8_t> message = testing_support::AsciiBytes("This program cannot be run in DOS mode");
  const auto at = std::search(bytes.begin(), bytes.end(), message.begin(), message.end());
  if (at == bytes.end() || at - bytes.begin() > 0x200) return {};
  *at ^= 0x20;
  const std::wstring copy = testing_support::ExeDir() + L"\\tampered-" + FileName(path);
  std::ofstream out(copy.c_str(), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? copy : std::wstring();
}

struct Expected {
  InstallerVerdict verdict;
  LONG trust;
  DWORD chainErrorsPresent;
};

void ExpectCheck(const std::wstring& path, const std::wstring& publisher, const Expected& expected) {
  const runtime::InstallerCheck check = runtime::CheckInstaller(path, {publisher, Given().rootThumbprint});
  EXPECT_EQ(check.verdict, expected.verdict) << runtime::DescribeInstallerCheck(check);
  EXPECT_EQ(check.trustResult, expected.trust) << runtime::DescribeInstallerCheck(check);
  EXPECT_EQ(check.chainErrors & expected.chainErrorsPresent, expected.chainErrorsPresent)
      << runtime::DescribeInstallerCheck(check);
}

TEST(SignedFilesTest, EachSignedFileHoldsUpToItsTrustedRootOnlyAsSigned) {
  ASSERT_FALSE(Given().files.empty());
  testing_support::ScopedTrustedRoot root(Given().root);
  ASSERT_TRUE(root.trusted());
  for (const std::wstring& file : Given().files) {
    SCOPED_TRACE(WideToUtf8(file));
    const std::wstring tampered = TamperedCopy(file);
    ASSERT_FALSE(tampered.empty()) << "no DOS stub message to change";
    auto removeCopy = ScopeExit([&] { ::DeleteFileW(tampered.c_str()); });
    ExpectCheck(file, Given().publisher, {InstallerVerdict::Accepted, ERROR_SUCCESS, 0});
    ExpectCheck(tampered, Given().publisher, {InstallerVerdict::Untrusted, TRUST_E_BAD_DIGEST, 0});
  }
}

// In a process of its own (a gtest filter): Wine's verifier reads the trusted
// roots once per process, so a root trusted and then untrusted by the same
// process would still count as trusted.
TEST(SignedFilesUntrustedTest, NoSignedFileHoldsUpWithoutItsRootTrusted) {
  ASSERT_FALSE(Given().files.empty());
  // Wine's verifier answers 0 for a root nobody trusts (see the runtime's
  // installer tests); the chain it built still says so, and that refuses it.
  const bool wine = testing_support::RunningUnderWine();
  for (const std::wstring& file : Given().files) {
    SCOPED_TRACE(WideToUtf8(file));
    ExpectCheck(file, Given().publisher,
                {InstallerVerdict::Untrusted, wine ? ERROR_SUCCESS : CERT_E_UNTRUSTEDROOT,
                 static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT)});
  }
}

// Signatures the signing step refuses to make, made directly with
// osslsigncode from the same chain: what the verifier itself catches. Wine's
// provider checks neither the certificate's dates nor its usage: it accepts
// both files, and only the chain it built says that one has expired.
TEST(SignedFilesTest, WhatTheVerifierMakesOfCertificatesTheBuildRefuses) {
  const bool wine = testing_support::RunningUnderWine();
  struct Case {
    const wchar_t* file;
    Expected windows;
    Expected wine;
  };
  const Case cases[] = {
      {L"expired-certificate.exe",
       {InstallerVerdict::Untrusted, CERT_E_EXPIRED, 0},
       {InstallerVerdict::Accepted, ERROR_SUCCESS, static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID)}},
      {L"server-certificate.exe",
       {InstallerVerdict::Untrusted, CERT_E_WRONG_USAGE, 0},
       {InstallerVerdict::Accepted, ERROR_SUCCESS, 0}},
  };
  testing_support::ScopedTrustedRoot root(Given().root);
  ASSERT_TRUE(root.trusted());
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.file));
    ExpectCheck(Given().variants + L"\\" + c.file, Given().publisher, wine ? c.wine : c.windows);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 5) {
    std::fprintf(stderr, "usage: signed_files_tests [gtest flags] ROOT.pem PUBLISHER VARIANTS_DIR FILE...\n");
    return 2;
  }
  Given().root = testing_support::HostPath(argv[1]);
  Given().rootThumbprint = testing_support::Sha1Thumbprint(testing_support::PemCertificate(Given().root));
  Given().publisher = Utf8ToWide(argv[2]);
  Given().variants = testing_support::HostPath(argv[3]);
  for (int i = 4; i < argc; ++i) Given().files.push_back(testing_support::HostPath(argv[i]));
  return RUN_ALL_TESTS();
}
