#pragma once
// Opening an address for the student from an elevated process. Whatever the
// shell starts for us inherits our token, so a browser (or a downloaded
// program) opened by ShellExecuteW would run elevated; the desktop's own
// shell runs it with the signed-in user's rights instead.
#include <string>

// How an attempt through the desktop's shell went.
enum class DesktopShellOpen {
  Opened,          // handed to the desktop's shell
  NoDesktopShell,  // no desktop shell answered (none running, another session, a service)
  Failed,          // the desktop's shell was reached but refused the address
};

// Asks the shell that owns the desktop to open the address with its default
// handler. Needs COM on the calling thread.
[[nodiscard]] DesktopShellOpen OpenThroughDesktopShell(const std::wstring& address);
