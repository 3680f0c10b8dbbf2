#pragma once
// The narrow set of side effects a test must observe or stop: message boxes,
// the end of the process, the shell, and waiting. Production code calls these;
// each calls the real API unless a test has installed a stand-in.
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <functional>
#include <string>

namespace seams {

struct Hooks {
  // Returns the button the "user" pressed (IDOK, IDYES...).
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)> messageBox;
  // Records the exit code; the seam then throws ProcessExitRequested so the
  // code after the call never runs, as with the real exit.
  std::function<void(UINT code)> exitProcess;
  std::function<HINSTANCE(HWND owner, const std::wstring& verb, const std::wstring& file,
                          const std::wstring& parameters, const std::wstring& directory, int show)>
      shellExecute;
  std::function<BOOL(SHELLEXECUTEINFOW* info)> shellExecuteEx;
  // Returns whether the address was opened for the user.
  std::function<bool(const std::wstring& address)> openForUser;
  std::function<void(std::chrono::milliseconds duration)> sleep;
  // Starts a detached process (program path, command line); returns whether it started.
  std::function<bool(const std::wstring& application, const std::wstring& commandLine)> launchProcess;
  // The interval a one-second countdown ticks at (tests shorten it).
  std::function<UINT(UINT requestedMilliseconds)> timerInterval;
  // Receives each step-log line instead of the debugger channel.
  std::function<void(const std::string& line)> logLine;
};

// Thrown by EndProcess when a test stand-in is installed.
struct ProcessExitRequested {
  UINT code;
};

// MessageBoxW.
int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags);

// ExitProcess. Never returns.
[[noreturn]] void EndProcess(UINT code);

// Runs once, right before EndProcess ends the process (a test's stand-in
// included): for what must be let go rather than vanish with the process,
// such as a browser engine started early. Replaces an earlier one; null
// clears it.
using BeforeEndProcess = void (*)() noexcept;
void SetBeforeEndProcess(BeforeEndProcess action) noexcept;

// ShellExecuteW; empty texts are passed as null pointers.
HINSTANCE ShellExecuteSeam(HWND owner, const std::wstring& verb, const std::wstring& file,
                           const std::wstring& parameters, const std::wstring& directory, int show);

// ShellExecuteExW.
BOOL ShellExecuteExSeam(SHELLEXECUTEINFOW* info);

// Opens an address for the user with the user's own rights: through the
// desktop's shell, and through ShellExecuteW (as elevated as we are) only
// where no desktop shell answers. Whatever it opens must never run with our
// rights when it need not. Returns whether the address was opened.
bool OpenForUserSeam(const std::wstring& address);

// Blocks the calling thread without pumping messages.
void SleepFor(std::chrono::milliseconds duration);

// CreateProcessW of the program at its full path with the command line,
// detached, inheriting no handles. The path is never searched for: a program
// named by the command line alone would be looked for in our own folder and
// the current directory first.
bool LaunchDetachedSeam(const std::wstring& application, const std::wstring& commandLine);

// The interval to give SetTimer for a requested one.
UINT TimerInterval(UINT requestedMilliseconds);

// Hands a step-log line to the installed stand-in; false when there is none
// and the line is the caller's to write.
bool DivertLogLine(const std::string& line) noexcept;

// Installs stand-ins for the lifetime of the object (tests only). Hooks left
// empty keep the real behaviour.
class ScopedHooks {
 public:
  explicit ScopedHooks(Hooks hooks);
  ~ScopedHooks();
  ScopedHooks(const ScopedHooks&) = delete;
  ScopedHooks& operator=(const ScopedHooks&) = delete;

 private:
  Hooks previous_;
};

}  // namespace seams
