#pragma once
// What the user sees when the link of this start cannot be processed.
#include <string>

// A reason from the service ("server:" + text) is shown as it is in a
// right-to-left message box and gives exit code 1; any other reason ends the
// process through the link-error alert with its diagnostic code.
int ReportLinkFailure(const std::string& reason);
