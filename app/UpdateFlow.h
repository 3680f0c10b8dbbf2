#pragma once
// The update check around the service's version answer: offer an optional
// update, demand a mandatory one, and send the user to the download.
#include <string>

#include "net/ServiceApi.h"

// The built-in version as a number: the longest decimal number at the start
// of the text ("4.8.0" gives 4.8), or 3.0 when there is none.
double CurrentVersionNumber(const std::wstring& versionText);

// The address the user is sent to: the service's link when it is an https
// address on a service host, the built-in download address otherwise.
std::wstring DownloadAddress(const std::wstring& serviceLink);

// One run of the check against the domain (empty: the default endpoint);
// the first run of a start writes its two step-log lines. Ends the process
// with exit code 0 when the user goes to the download or closes the
// mandatory-update message; otherwise returns hasUpdate.
bool RunUpdateCheck(const std::wstring& domain, bool firstRun);

// What the user is asked, and what follows, for one answer of the service.
bool HandleUpdateAnswer(const VersionInfo& info);
