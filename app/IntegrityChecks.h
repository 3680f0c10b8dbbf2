#pragma once
// The checks that the player is the program its publisher built and that
// nobody debugs it: its file's signature, its code in memory, a debugger. A
// finding ends the player through the alert, with a reason support staff
// decode from the diagnostic code. None of them guesses at the machine
// (virtual machines, remote desktops, screen readers and security products
// are all things students legitimately use).
#include <windows.h>

#include <string>
#include <string_view>

namespace integrity {

enum class Finding { None, Debugger, Signature, Code };

// The reason in the diagnostic code: "INTEGRITY_DEBUGGER", "INTEGRITY_SIGNATURE"
// or "INTEGRITY_CODE"; empty for None.
[[nodiscard]] std::string_view ReasonOf(Finding finding);

enum class SignatureVerdict {
  // Signed by the build's own key, the file unchanged since.
  Intact,
  // No signature, or the file changed after signing.
  Changed,
  // A valid signature by another key.
  OtherSigner,
  // The build's key, but its certificate is revoked or distrusted here.
  Distrusted,
};

// The verdict from the verifier's result, the signer chain's error bits and
// the pin of the signer's key. The key is what identifies the publisher:
// a certificate renewed on the same key keeps working, and so does one
// whose chain this machine cannot complete offline or that has expired
// (neither changes who signed the file, and refusing either would lock out
// students whose machines are merely out of date).
[[nodiscard]] SignatureVerdict JudgeOwnSignature(LONG trustResult, DWORD chainErrors, std::string_view signerPin,
                                                 std::string_view expectedPin);

struct SignatureCheck {
  Finding finding = Finding::None;
  // For the step log: what was found and why.
  std::string description;
};

// Verifies the file open at path (the running program's own) against the
// expected signer pin, revocation from the machine's cache only (no network
// call on the way to a lesson).
[[nodiscard]] SignatureCheck CheckOwnSignature(const std::wstring& path, HANDLE file, std::string_view expectedPin);

}  // namespace integrity
