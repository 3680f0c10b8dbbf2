#pragma once
// Where the start-up sequence hands over to the service client. The service
// and link work fills these in; until it lands they change nothing.
#include <string>

// Stage 10: the built-in pin table becomes the process-wide table.
void InstallBuiltInPins();

// Stage 11: pins downloaded from the service; catches its own failures.
void LoadDynamicPinsStage();

// One run of the update check against the domain (empty: the default
// endpoint). Ends the process with exit code 0 when the user is sent to the
// download or closes the mandatory-update message; returns hasUpdate.
bool RunUpdateCheck(const std::wstring& domain);

// Link path step 2: resolves the link into the content fields of the
// application state; on false the reason holds the reason code.
bool ParseLinkStage(const std::wstring& link, std::string& reason);
