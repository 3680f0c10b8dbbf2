#include "common/Seams.h"

#include <atomic>
#include <thread>

#include "common/DesktopShell.h"
#include "common/FailureLog.h"
#include "common/Handles.h"

namespace seams {
namespace {

Hooks& Installed() {
  static Hooks hooks;
  return hooks;
}

std::atomic<BeforeEndProcess> beforeEnd{nullptr};

const wchar_t* OrNull(const std::wstring& text) { return text.empty() ? nullptr : text.c_str(); }

}  // namespace

int ShowMessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
  if (const auto& hook = Installed().messageBox) return hook(owner, text, caption, flags);
  return ::MessageBoxW(owner, text.c_str(), caption.c_str(), flags);
}

void SetBeforeEndProcess(BeforeEndProcess action) noexcept { beforeEnd.store(action); }

void EndProcess(UINT code) {
  if (const BeforeEndProcess action = beforeEnd.exchange(nullptr)) action();
  if (const auto& hook = Installed().exitProcess) {
    hook(code);
    throw ProcessExitRequested{code};
  }
  ::ExitProcess(code);
}

HINSTANCE ShellExecuteSeam(HWND owner, const std::wstring& verb, const std::wstring& file,
                           const std::wstring& parameters, const std::wstring& directory, int show) {
  if (const auto& hook = Installed().shellExecute) return hook(owner, verb, file, parameters, directory, show);
  return ::ShellExecuteW(owner, OrNull(verb), file.c_str(), OrNull(parameters), OrNull(directory), show);
}

BOOL ShellExecuteExSeam(SHELLEXECUTEINFOW* info) {
  if (const auto& hook = Installed().shellExecuteEx) return hook(info);
  return ::ShellExecuteExW(info);
}

bool OpenForUserSeam(const std::wstring& address) {
  if (const auto& hook = Installed().openForUser) return hook(address);
  switch (OpenThroughDesktopShell(address)) {
    case DesktopShellOpen::Opened:
      return true;
    case DesktopShellOpen::Failed:
      return false;
    case DesktopShellOpen::NoDesktopShell:
      break;
  }
  // The shell's answer is a number above 32 when it opened the address.
  const bool opened =
      reinterpret_cast<INT_PTR>(ShellExecuteSeam(nullptr, L"open", address, L"", L"", SW_SHOWNORMAL)) > 32;
  MIRAVELL_LOG_LAST_ERROR_IF(!opened);
  return opened;
}

void SleepFor(std::chrono::milliseconds duration) {
  if (const auto& hook = Installed().sleep) return hook(duration);
  std::this_thread::sleep_for(duration);
}

bool LaunchDetachedSeam(const std::wstring& application, const std::wstring& commandLine) {
  if (const auto& hook = Installed().launchProcess) return hook(application, commandLine);
  std::wstring mutableLine = commandLine;  // CreateProcessW may write into it
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::CreateProcessW(application.c_str(), mutableLine.data(), nullptr, nullptr,
                                                         FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup,
                                                         &process))) {
    return false;
  }
  UniqueHandle thread(process.hThread);
  UniqueHandle started(process.hProcess);
  return true;
}

UINT TimerInterval(UINT requestedMilliseconds) {
  if (const auto& hook = Installed().timerInterval) return hook(requestedMilliseconds);
  return requestedMilliseconds;
}

bool DivertLogLine(const std::string& line) noexcept {
  const auto& hook = Installed().logLine;
  if (!hook) return false;
  try {
    hook(line);
  } catch (...) {
    // A stand-in that fails only loses the line.
  }
  return true;
}

ScopedHooks::ScopedHooks(Hooks hooks) : previous_(std::move(Installed())) { Installed() = std::move(hooks); }

ScopedHooks::~ScopedHooks() { Installed() = std::move(previous_); }

}  // namespace seams
