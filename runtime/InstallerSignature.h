#pragma once
// The check the runtime's downloaded installer must pass before the elevated
// program starts it: a valid Authenticode signature that holds up to a root
// this machine trusts, made by the expected publisher under the expected root
// (any root the machine trusts could issue a certificate with that name). The file is checked
// through a handle that lets nobody else write, rename or delete it, held
// until the installer has started, so what was checked is what runs.
#include <windows.h>

#include <string>
#include <string_view>

#include "common/Handles.h"

namespace runtime {

enum class InstallerVerdict {
  Accepted,
  // Missing, not a plain file, or open elsewhere for writing or deleting.
  NotOpened,
  // Unsigned, changed after signing, or not signed up to a trusted root.
  Untrusted,
  // Validly signed, by someone else.
  OtherPublisher,
  // The publisher's name, from a chain that ends in another root.
  OtherRoot,
};

// The signer a downloaded installer must have: the name on its certificate
// and the SHA-1 thumbprint (hex) of the root its chain ends in.
struct ExpectedSigner {
  std::wstring_view publisher;
  std::wstring_view rootThumbprint;
};

// The verdict from what the system reported: WinVerifyTrust's result, the
// error bits of the signer's certificate chain, the signer's name and the
// thumbprint of the chain's root.
[[nodiscard]] InstallerVerdict JudgeInstallerSignature(LONG trustResult, DWORD chainErrors,
                                                       std::wstring_view signerName, std::wstring_view rootThumbprint,
                                                       const ExpectedSigner& expected);

struct InstallerCheck {
  InstallerVerdict verdict = InstallerVerdict::NotOpened;
  LONG trustResult = 0;
  DWORD chainErrors = 0;
  std::wstring signerName;
  // Upper-case hex.
  std::wstring rootThumbprint;
  // Accepted files only: open for reading, shared for reading only, so while
  // it is held the file cannot be written, replaced, renamed or deleted.
  UniqueHandle file;
};

// How far the verifier may go to learn whether a certificate was revoked.
enum class RevocationSource {
  // The revocation servers, over the network.
  Network,
  // Only what the machine has already fetched: no network call.
  CacheOnly,
};

// What the system's verifier reports of a file's Authenticode signature.
struct SignatureFacts {
  LONG trustResult = 0;
  // Error bits of the signer's certificate chain; every untrusted-chain bit
  // when the verifier built no chain.
  DWORD chainErrors = 0;
  std::wstring signerName;
  // Upper-case hex.
  std::wstring rootThumbprint;
  // The signer's own certificate; empty when the file has no signer.
  UniqueCertContext signer;
};

// Verifies the signature of the file open at path through the handle.
[[nodiscard]] SignatureFacts ReadFileSignature(const std::wstring& path, HANDLE file, RevocationSource revocation);

// Opens the file at path and checks it (through that handle).
[[nodiscard]] InstallerCheck CheckInstaller(const std::wstring& path, const ExpectedSigner& expected);

// A short text for the log: the verdict and the reasons behind it.
[[nodiscard]] std::string DescribeInstallerCheck(const InstallerCheck& check);

}  // namespace runtime
