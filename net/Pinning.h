#pragma once
// Public-key pins of the service's hosts: a pin is the Base64 SHA-256 of a
// certificate's DER SubjectPublicKeyInfo. A process-wide table maps host
// scopes to pins; it starts from one built-in entry and is extended once at
// start-up by pins the service sends.
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <optional>
#include <string>
#include <vector>

struct PinEntry {
  std::wstring host;              // scope: a host or domain, compared without case
  std::vector<std::string> pins;  // bare Base64 (44 characters)
};

// Replaces the whole table.
void SetPinTable(std::vector<PinEntry> table);

// The entry for a host: the first exact match, else the longest scope the
// host ends with after a dot (earlier wins among equals). A copy.
std::optional<PinEntry> FindPinEntry(const std::wstring& host);

// Whether the host has an entry with at least one pin.
bool IsPinnedHost(const std::wstring& host);

// The built-in table: the service's own domain with its four pins.
std::vector<PinEntry> BuildDefaultPins();

// Checks the certificate of a request that was sent and received. True for a
// host without pins. On a mismatch for the operator's own domain it ends the
// program (ActOnPinMismatch) and does not return.
bool ValidateServerPins(HINTERNET request, const std::wstring& host);

enum class PinVerdict { Pass, NoCertificate, Mismatch };

// What ValidateServerPins decides, without acting on it: usable while the
// request is still inside WinHTTP (once its connection has a certificate).
PinVerdict CheckServerPins(HINTERNET request, const std::wstring& host);

// What ends the program after a pin mismatch on the operator's own domain:
// the program's interception alert, which the network library does not show
// itself. Set once at start-up, before any connection.
using PinMismatchAction = void (*)(const std::wstring& host);
void SetPinMismatchAction(PinMismatchAction action) noexcept;

// After a Mismatch on the operator's own domain: the action set above, and
// the end of the process (exit code 1) should it come back or be unset;
// nothing for any other host.
void ActOnPinMismatch(const std::wstring& host);

// The verdict on a server's chain, apart from WinHTTP: true when a pinned
// key is found on the leaf, or on an issuer reached from the leaf through
// valid signatures while the leaf is valid for the host name.
bool ChainMatchesPins(PCCERT_CONTEXT serverCertificate, const std::wstring& host, const std::vector<std::string>& pins);

// The pin of one certificate (Base64 SHA-256 of its SubjectPublicKeyInfo);
// empty when it cannot be computed.
std::string PinOfCertificate(PCCERT_CONTEXT certificate);

// Whether the browser may load from the host: its own HEAD check against the
// pins through the system's proxy settings, once per host (a pass is cached
// until ClearPreflightCache, a failure for the rest of the process).
bool PreflightHost(const std::wstring& host);

// PreflightHost's check, telling a host that could not be reached (no
// certificate to check: blocked, but no interception to report, and
// checked again after ForgetUnreachableHosts) from one that failed its pins.
enum class BrowserHostCheck { Passed, Unreachable, Refused };
BrowserHostCheck CheckHostForBrowser(const std::wstring& host);

// The student asked to load the page again: hosts that could not be reached
// are checked again on their next request.
void ForgetUnreachableHosts();

// Runs PreflightHost's check of the HTTPS host of url on a worker thread,
// ahead of the browser's first request there, and keeps a pass for it. It
// acts on nothing: PreflightHost waits for a check under way and, after a
// failure, checks and acts as it would have without it.
void WarmBrowserHost(const std::wstring& url);

// Forgets every host PreflightHost has passed.
void ClearPreflightCache();
