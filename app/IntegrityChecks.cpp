#include "app/IntegrityChecks.h"

#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>

#include "common/Text.h"
#include "net/Pinning.h"
#include "runtime/InstallerSignature.h"

namespace integrity {
namespace {

// Results that speak of the certificate's chain only: the verifier reaches
// them after the signature and the file's digest held.
bool ChainOnlyResult(LONG trustResult) {
  switch (trustResult) {
    case ERROR_SUCCESS:
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_UNTRUSTEDTESTROOT:
    case CERT_E_CHAINING:
    case CERT_E_EXPIRED:
    case CERT_E_REVOCATION_FAILURE:
    case CRYPT_E_REVOCATION_OFFLINE:
    case CRYPT_E_NO_REVOCATION_CHECK:
      return true;
    default:
      return false;
  }
}

const char* VerdictText(SignatureVerdict verdict) {
  switch (verdict) {
    case SignatureVerdict::Intact:
      return "intact";
    case SignatureVerdict::Changed:
      return "not signed, or changed after signing";
    case SignatureVerdict::OtherSigner:
      return "signed by another key";
    case SignatureVerdict::Distrusted:
      return "its certificate is revoked or distrusted";
  }
  return "?";
}

}  // namespace

std::string_view ReasonOf(Finding finding) {
  switch (finding) {
    case Finding::None:
      return {};
    case Finding::Debugger:
      return "INTEGRITY_DEBUGGER";
    case Finding::Signature:
      return "INTEGRITY_SIGNATURE";
    case Finding::Code:
      return "INTEGRITY_CODE";
  }
  return {};
}

SignatureVerdict JudgeOwnSignature(LONG trustResult, DWORD chainErrors, std::string_view signerPin,
                                   std::string_view expectedPin) {
  if (trustResult == CERT_E_REVOKED) return SignatureVerdict::Distrusted;
  if (!ChainOnlyResult(trustResult) || signerPin.empty()) return SignatureVerdict::Changed;
  if (expectedPin.empty() || signerPin != expectedPin) return SignatureVerdict::OtherSigner;
  if ((chainErrors & (CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_EXPLICIT_DISTRUST)) != 0) {
    return SignatureVerdict::Distrusted;
  }
  return SignatureVerdict::Intact;
}

SignatureCheck CheckOwnSignature(const std::wstring& path, HANDLE file, std::string_view expectedPin) {
  const runtime::SignatureFacts facts = runtime::ReadFileSignature(path, file, runtime::RevocationSource::CacheOnly);
  const std::string pin = facts.signer ? PinOfCertificate(facts.signer.get()) : std::string();
  const SignatureVerdict verdict = JudgeOwnSignature(facts.trustResult, facts.chainErrors, pin, expectedPin);
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), " (trust 0x%08lX, chain 0x%08lX, signer \"",
                static_cast<unsigned long>(facts.trustResult), static_cast<unsigned long>(facts.chainErrors));
  SignatureCheck check;
  check.finding = verdict == SignatureVerdict::Intact ? Finding::None : Finding::Signature;
  check.description = std::string(VerdictText(verdict)) + numbers + WideToUtf8(facts.signerName) + "\", key " +
                      (pin.empty() ? "none" : pin) + ")";
  return check;
}

}  // namespace integrity
