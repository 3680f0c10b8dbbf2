#pragma once
// The miravell: URL scheme: its registration and the link on the command line.
#include <string>

// Writes the scheme's registration for the running executable (HKCU, with
// HKLM as the fallback for the root key only). Never reports a failure.
void RegisterUrlProtocol();

// The same for a given executable path.
void RegisterUrlProtocolFor(const std::wstring& executablePath);

struct LinkArgument {
  std::wstring link;  // possibly empty; letter case unchanged
  bool hasSchemeArgs = false;
};

// Picks the link out of the process command line (GetCommandLineW) and the
// command-line text the entry point received.
LinkArgument ReadLinkArgument(const std::wstring& winMainCommandLine);

// The same with the process command line given, for tests.
LinkArgument ReadLinkArgumentFrom(const std::wstring& processCommandLine, const std::wstring& winMainCommandLine);
