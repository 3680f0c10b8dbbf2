// Test program that raises the alert the way the player does, so a test can
// watch the countdown window, the clipboard, the follow-up and the exit code
// from outside. Options:
//   --title T --message M --arabic A --code C   the alert's texts
//   --tick-ms N      the countdown ticks every N ms instead of every second
//   --record FILE    the diagnostic window is not started; its command line
//                    is written to FILE (UTF-8) instead
//   --no-diag        starting the diagnostic window fails
//   --block-window   creating the countdown window fails
//   --thread         the alert runs on a worker thread
//   --twice          two worker threads raise it, the second 300 ms later
//   --link-failure R the start-up's report of a link refused with reason R
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "alerts/AlertWindow.h"
#include "app/LinkErrors.h"
#include "common/WindowClasses.h"
#include "common/Dpi.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "tests/tools/Flags.h"

namespace {

HHOOK creationBlocker = nullptr;

LRESULT CALLBACK BlockCountdownWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    const auto* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam);
    const LPCWSTR name = create->lpcs->lpszClass;
    if (!IS_INTRESOURCE(name) && std::wstring(name) == kAlertWindowClass) return 1;
  }
  return ::CallNextHookEx(creationBlocker, code, wParam, lParam);
}

struct Options {
  std::wstring title = L"Alert", message = L"Message", arabic = L"رسالة", recordPath;
  std::string code;
  int tickMs = 0;
  bool noDiagnostic = false, blockWindow = false, onThread = false, twice = false;
  std::optional<std::wstring> linkFailure;
};

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
  Options options;
  std::wstring code, tickMs;
  if (!ReadFlags(argc, argv, 1,
                 {ValueFlag(L"--title", options.title), ValueFlag(L"--message", options.message),
                  ValueFlag(L"--arabic", options.arabic), ValueFlag(L"--code", code), ValueFlag(L"--tick-ms", tickMs),
                  ValueFlag(L"--record", options.recordPath), ValueFlag(L"--link-failure", options.linkFailure),
                  SwitchFlag(L"--no-diag", options.noDiagnostic), SwitchFlag(L"--block-window", options.blockWindow),
                  SwitchFlag(L"--thread", options.onThread), SwitchFlag(L"--twice", options.twice)})) {
    return std::nullopt;
  }
  options.code = WideToUtf8(code);
  options.tickMs = _wtoi(tickMs.c_str());
  // The texts arrive with literal "\n" for line breaks.
  for (std::wstring* text : {&options.title, &options.message, &options.arabic}) {
    for (std::size_t at = text->find(L"\\n"); at != std::wstring::npos; at = text->find(L"\\n", at + 1)) {
      text->replace(at, 2, L"\n");
    }
  }
  return options;
}

seams::Hooks AlertHooks(const Options& options) {
  seams::Hooks hooks;
  if (options.tickMs > 0) hooks.timerInterval = [tick = options.tickMs](UINT) { return static_cast<UINT>(tick); };
  if (options.noDiagnostic) {
    hooks.launchProcess = [](const std::wstring&, const std::wstring&) { return false; };
  } else if (!options.recordPath.empty()) {
    // The command line goes to the record, the program started beside it.
    hooks.launchProcess = [recordPath = options.recordPath](const std::wstring& application,
                                                            const std::wstring& commandLine) {
      for (const auto& [path, text] :
           {std::pair{recordPath, commandLine}, std::pair{recordPath + L".program", application}}) {
        if (FILE* file = _wfopen(path.c_str(), L"wb")) {
          const std::string utf8 = WideToUtf8(text);
          std::fwrite(utf8.data(), 1, utf8.size(), file);
          std::fclose(file);
        }
      }
      return true;
    };
  }
  return hooks;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Per-monitor aware, as the player's manifest makes it (old releases: 96 DPI anyway).
  (void)MakeProcessPerMonitorAware();
  const auto options = ParseOptions(argc, argv);
  if (!options) return 2;
  seams::ScopedHooks scope(AlertHooks(*options));
  const Options& o = *options;
  auto raise = [&o] {
    if (o.blockWindow)
      creationBlocker = ::SetWindowsHookExW(WH_CBT, BlockCountdownWindow, nullptr, ::GetCurrentThreadId());
    if (o.linkFailure) std::exit(ReportLinkFailure(WideToUtf8(*o.linkFailure)));
    ShowAlertAndExit(o.title, o.message, o.arabic, o.code);
  };
  if (o.twice) {
    std::thread first(raise);
    ::Sleep(300);
    std::thread second([&o] { ShowAlertAndExit(o.title, o.message, o.arabic, o.code + "-second"); });
    first.join();  // never returns: the first alert ends the process
    return 3;
  }
  if (o.onThread) {
    std::thread worker(raise);
    worker.join();  // never returns: the alert ends the process
    return 3;
  }
  raise();
  return 3;  // not reached: the alert ends the process
}
