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
#include <string>
#include <thread>

#include "alerts/AlertWindow.h"
#include "app/LinkErrors.h"
#include "common/WindowClasses.h"
#include "common/Dpi.h"
#include "common/Seams.h"
#include "common/Text.h"

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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // The player's manifest makes it per-monitor aware; the alert must be
  // seen here as it is there.
  // Without the setting (old releases) everything is at 96 DPI anyway.
  (void)MakeProcessPerMonitorAware();
  std::wstring title = L"Alert", message = L"Message", arabic = L"رسالة", recordPath;
  std::string code;
  int tickMs = 0;
  bool noDiagnostic = false, blockWindow = false, onThread = false, twice = false;
  std::string linkFailure;
  bool reportLink = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring flag = argv[i];
    const bool hasValue = i + 1 < argc;
    if (flag == L"--title" && hasValue)
      title = argv[++i];
    else if (flag == L"--message" && hasValue)
      message = argv[++i];
    else if (flag == L"--arabic" && hasValue)
      arabic = argv[++i];
    else if (flag == L"--code" && hasValue)
      code = WideToUtf8(argv[++i]);
    else if (flag == L"--tick-ms" && hasValue)
      tickMs = _wtoi(argv[++i]);
    else if (flag == L"--record" && hasValue)
      recordPath = argv[++i];
    else if (flag == L"--no-diag")
      noDiagnostic = true;
    else if (flag == L"--block-window")
      blockWindow = true;
    else if (flag == L"--thread")
      onThread = true;
    else if (flag == L"--twice")
      twice = true;
    else if (flag == L"--link-failure" && hasValue) {
      reportLink = true;
      linkFailure = WideToUtf8(argv[++i]);
    } else
      return 2;
  }
  // The texts arrive with literal "\n" for line breaks.
  for (std::wstring* text : {&title, &message, &arabic}) {
    for (std::size_t at = text->find(L"\\n"); at != std::wstring::npos; at = text->find(L"\\n", at + 1)) {
      text->replace(at, 2, L"\n");
    }
  }

  seams::Hooks hooks;
  if (tickMs > 0) hooks.timerInterval = [tickMs](UINT) { return static_cast<UINT>(tickMs); };
  if (noDiagnostic) {
    hooks.launchProcess = [](const std::wstring&, const std::wstring&) { return false; };
  } else if (!recordPath.empty()) {
    // The command line goes to the record, the program started beside it.
    hooks.launchProcess = [recordPath](const std::wstring& application, const std::wstring& commandLine) {
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
  seams::ScopedHooks scope(std::move(hooks));

  auto raise = [&] {
    if (blockWindow)
      creationBlocker = ::SetWindowsHookExW(WH_CBT, BlockCountdownWindow, nullptr, ::GetCurrentThreadId());
    if (reportLink) std::exit(ReportLinkFailure(linkFailure));
    ShowAlertAndExit(title, message, arabic, code);
  };
  if (twice) {
    std::thread first(raise);
    ::Sleep(300);
    std::thread second([&] { ShowAlertAndExit(title, message, arabic, code + "-second"); });
    first.join();  // never returns: the first alert ends the process
    return 3;
  }
  if (onThread) {
    std::thread worker(raise);
    worker.join();  // never returns: the alert ends the process
    return 3;
  }
  raise();
  return 3;  // not reached: the alert ends the process
}
