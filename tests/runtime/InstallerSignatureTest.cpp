// The check of the runtime installer on signed, unsigned, wrongly signed and
// changed copies of the test bootstrapper, made by the build with the test
// PKI's code-signing certificates.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they build on.
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>
#include <string>

#include "common/Handles.h"
#include "runtime/InstallerSignature.h"
#include "tests/support/TestSupport.h"

#ifndef MIRAVELL_CERTS_DIR
#error "MIRAVELL_CERTS_DIR must name the test certificate folder"
#endif

namespace {

using runtime::InstallerVerdict;

constexpr wchar_t kPublisher[] = L"Miravell Test Publisher";
// codesign-ca.pem's SHA-1 thumbprint, as the local profile names it.
constexpr wchar_t kRoot[] = L"31D27283CB32951D9B9ABAB439CDD36C29515B3E";
const runtime::ExpectedSigner kSigner{kPublisher, kRoot};
// Microsoft Root Certificate Authority 2011, as the production profile names it.
constexpr wchar_t kMicrosoftRoot[] = L"8F43288AD272F3103B6FB1428485EA3014C0BCFE";

std::wstring Variant(const wchar_t* name) {
  return testing_support::BuildProgram(std::wstring(L"installer-variants\\") + name);
}

class InstallerSignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = std::make_unique<testing_support::ScopedTrustedRoot>(
        testing_support::HostPath(MIRAVELL_CERTS_DIR "/codesign-ca.pem"));
    // Another root this machine trusts, which issued a certificate in the
    // publisher's name.
    otherRoot_ = std::make_unique<testing_support::ScopedTrustedRoot>(
        testing_support::HostPath(MIRAVELL_CERTS_DIR "/service-ca.pem"));
  }
  static void TearDownTestSuite() {
    otherRoot_.reset();
    root_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(root_->trusted());
    ASSERT_TRUE(otherRoot_->trusted());
  }

 private:
  static inline std::unique_ptr<testing_support::ScopedTrustedRoot> root_;
  static inline std::unique_ptr<testing_support::ScopedTrustedRoot> otherRoot_;
};

TEST_F(InstallerSignatureTest, OnlyTheExpectedPublishersIntactSignatureIsAccepted) {
  // Wine's verifier answers 0 for a signature from an untrusted root: with
  // SHA-256 certificates its final policy step gives up on looking the signer
  // up among the disallowed certificates (a 20-byte buffer for a 32-byte
  // hash) before it applies the chain policy, and reports that without an
  // error code. The chain it built still says the root is untrusted, and that
  // is what refuses the file there.
  const bool wine = testing_support::RunningUnderWine();
  struct Case {
    const char* name;
    std::wstring path;
    InstallerVerdict verdict;
    LONG trust;
    const wchar_t* signer;
  };
  const Case cases[] = {
      {"signed by the publisher", testing_support::BuildProgram(L"MicrosoftEdgeWebview2Setup.exe"),
       InstallerVerdict::Accepted, ERROR_SUCCESS, kPublisher},
      {"unsigned", Variant(L"unsigned.exe"), InstallerVerdict::Untrusted, TRUST_E_NOSIGNATURE, L""},
      {"a byte changed after signing", Variant(L"tampered.exe"), InstallerVerdict::Untrusted, TRUST_E_BAD_DIGEST, L""},
      {"the publisher's name from an untrusted CA", Variant(L"untrusted-ca.exe"), InstallerVerdict::Untrusted,
       wine ? ERROR_SUCCESS : CERT_E_UNTRUSTEDROOT, kPublisher},
      {"another name from the trusted CA", Variant(L"other-publisher.exe"), InstallerVerdict::OtherPublisher,
       ERROR_SUCCESS, L"Miravell Test Other Publisher"},
      {"the publisher's name from another trusted root", Variant(L"other-root.exe"), InstallerVerdict::OtherRoot,
       ERROR_SUCCESS, kPublisher},
      {"missing", Variant(L"absent.exe"), InstallerVerdict::NotOpened, ERROR_SUCCESS, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const runtime::InstallerCheck check = runtime::CheckInstaller(c.path, kSigner);
    EXPECT_EQ(check.verdict, c.verdict) << runtime::DescribeInstallerCheck(check);
    EXPECT_EQ(check.trustResult, c.trust) << runtime::DescribeInstallerCheck(check);
    EXPECT_EQ(check.signerName, c.signer);
    if (c.verdict == InstallerVerdict::Accepted) {
      EXPECT_EQ(check.rootThumbprint, kRoot);
    }
    // Only an accepted file stays held for its start.
    EXPECT_EQ(check.file.valid(), c.verdict == InstallerVerdict::Accepted);
  }
}

TEST_F(InstallerSignatureTest, TheCheckedFileCannotBeChangedUntilReleasedNorCheckedWhileOpenForWriting) {
  const std::wstring copy = testing_support::ExeDir() + L"\\installer-check-copy.exe";
  ASSERT_TRUE(
      ::CopyFileW(testing_support::BuildProgram(L"MicrosoftEdgeWebview2Setup.exe").c_str(), copy.c_str(), FALSE));
  auto cleanup = ScopeExit([&] { ::DeleteFileW(copy.c_str()); });
  const auto openFor = [&](DWORD access) {
    return UniqueHandle(::CreateFileW(copy.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  };

  runtime::InstallerCheck check = runtime::CheckInstaller(copy, kSigner);
  ASSERT_EQ(check.verdict, InstallerVerdict::Accepted) << runtime::DescribeInstallerCheck(check);
  EXPECT_FALSE(openFor(GENERIC_WRITE));
  EXPECT_FALSE(openFor(DELETE));
  EXPECT_FALSE(::MoveFileExW(copy.c_str(), (copy + L".moved").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_TRUE(openFor(GENERIC_READ)) << "the installer itself can still be started";
  check.file.reset();
  EXPECT_TRUE(openFor(GENERIC_WRITE));

  // Someone holding it open for writing could change it after the check.
  UniqueHandle writer = openFor(GENERIC_WRITE);
  ASSERT_TRUE(writer);
  EXPECT_EQ(runtime::CheckInstaller(copy, kSigner).verdict, InstallerVerdict::NotOpened);
}

TEST(InstallerSignatureJudgeTest, TheNameMustBeTheWholePublisherNameOnATrustedChainFromItsRoot) {
  struct Case {
    const char* name;
    LONG trust;
    DWORD chain;
    const wchar_t* signer;
    const wchar_t* expected;
    InstallerVerdict verdict;
    const wchar_t* root = kMicrosoftRoot;
    const wchar_t* expectedRoot = kMicrosoftRoot;
  };
  constexpr wchar_t kMicrosoft[] = L"Microsoft Corporation";
  const Case cases[] = {
      {"the publisher", ERROR_SUCCESS, 0, kMicrosoft, kMicrosoft, InstallerVerdict::Accepted},
      {"the root's thumbprint in lower case", ERROR_SUCCESS, 0, kMicrosoft, kMicrosoft, InstallerVerdict::Accepted,
       L"8f43288ad272f3103b6fb1428485ea3014c0bcfe"},
      {"the publisher's name from another root", ERROR_SUCCESS, 0, kMicrosoft, kMicrosoft, InstallerVerdict::OtherRoot,
       kRoot},
      {"no root found, none expected", ERROR_SUCCESS, 0, kMicrosoft, kMicrosoft, InstallerVerdict::OtherRoot, L"", L""},
      {"no root found", ERROR_SUCCESS, 0, kMicrosoft, kMicrosoft, InstallerVerdict::OtherRoot, L""},
      {"revocation servers out of reach", ERROR_SUCCESS,
       CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION, kMicrosoft, kMicrosoft,
       InstallerVerdict::Accepted},
      {"other case", ERROR_SUCCESS, 0, L"microsoft corporation", kMicrosoft, InstallerVerdict::OtherPublisher},
      {"name starting with the publisher's", ERROR_SUCCESS, 0, L"Microsoft Corporation Ltd", kMicrosoft,
       InstallerVerdict::OtherPublisher},
      {"part of the publisher's name", ERROR_SUCCESS, 0, L"Microsoft", kMicrosoft, InstallerVerdict::OtherPublisher},
      {"no name, none expected", ERROR_SUCCESS, 0, L"", L"", InstallerVerdict::OtherPublisher},
      {"the verifier refused", TRUST_E_BAD_DIGEST, 0, kMicrosoft, kMicrosoft, InstallerVerdict::Untrusted},
      {"untrusted root", ERROR_SUCCESS, CERT_TRUST_IS_UNTRUSTED_ROOT, kMicrosoft, kMicrosoft,
       InstallerVerdict::Untrusted},
      {"issuer not found", ERROR_SUCCESS, CERT_TRUST_IS_PARTIAL_CHAIN, kMicrosoft, kMicrosoft,
       InstallerVerdict::Untrusted},
      {"revoked", ERROR_SUCCESS, CERT_TRUST_IS_REVOKED, kMicrosoft, kMicrosoft, InstallerVerdict::Untrusted},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runtime::JudgeInstallerSignature(c.trust, c.chain, c.signer, c.root, {c.expected, c.expectedRoot}),
              c.verdict)
        << c.name;
  }
}

}  // namespace
