// Test program that looks at and answers the windows of other programs in
// the same Wine desktop, the way a user would: it finds windows by class and
// title, reads message boxes, presses their buttons, closes windows and reads
// the clipboard. Every answer is one JSON object on standard output; exit
// code 0 when the request was met, 1 when not (timeout, no such window), 2 on
// a usage error.
#include <windows.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/Dpi.h"
#include "common/Handles.h"
#include "common/Text.h"
#include "tests/tools/Flags.h"
#include "tests/tools/PrintJson.h"

namespace {

using nlohmann::json;

struct Options {
  std::wstring command;
  std::optional<std::wstring> className;
  std::optional<std::wstring> title;
  std::optional<std::wstring> button;
  int timeoutMs = 10000;
  bool gone = false;
};

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int length = ::GetClassNameW(window, name, 256);
  return std::wstring(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

// Reads a window's text without sending it a message (GetWindowTextLength
// would), so a program whose thread is busy cannot stall the driver.
std::wstring TextOf(HWND window) {
  std::wstring text(4096, L'\0');
  const int copied = ::InternalGetWindowText(window, text.data(), static_cast<int>(text.size()));
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

json RectJson(const RECT& rect) {
  return {
      {"left", rect.left}, {"top", rect.top}, {"width", rect.right - rect.left}, {"height", rect.bottom - rect.top}};
}

json Describe(HWND window, int zOrder) {
  RECT rect{}, client{};
  ::GetWindowRect(window, &rect);
  ::GetClientRect(window, &client);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(window, &pid);
  return {{"hwnd", reinterpret_cast<std::uintptr_t>(window)},
          {"class", WideToUtf8(ClassOf(window))},
          {"title", WideToUtf8(TextOf(window))},
          {"pid", pid},
          {"visible", ::IsWindowVisible(window) != FALSE},
          {"style", static_cast<std::uint32_t>(::GetWindowLongW(window, GWL_STYLE))},
          {"exstyle", static_cast<std::uint32_t>(::GetWindowLongW(window, GWL_EXSTYLE))},
          {"rect", RectJson(rect)},
          {"client", RectJson(client)},
          {"z", zOrder}};
}

// Top-level windows, topmost first.
std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> windows;
  ::EnumWindows(
      [](HWND window, LPARAM state) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(state)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

bool Matches(HWND window, const Options& options) {
  if (options.className && ClassOf(window) != *options.className) return false;
  if (options.title && TextOf(window) != *options.title) return false;
  return true;
}

std::optional<std::pair<HWND, int>> Find(const Options& options) {
  const auto windows = TopLevelWindows();
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (Matches(windows[i], options)) return std::make_pair(windows[i], static_cast<int>(i));
  }
  return std::nullopt;
}

// Polls until the window exists (or, with gone, until it does not).
std::optional<std::pair<HWND, int>> WaitFor(const Options& options) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
  for (;;) {
    auto found = Find(options);
    if (options.gone ? !found.has_value() : found.has_value()) return found ? found : std::make_pair(HWND{}, -1);
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

json DescribeBox(HWND box, int zOrder) {
  json result = Describe(box, zOrder);
  // A message box keeps its text in the static control 0xFFFF.
  HWND text = ::GetDlgItem(box, 0xFFFF);
  result["text"] = text != nullptr ? WideToUtf8(TextOf(text)) : "";
  json buttons = json::array();
  for (HWND child = ::GetWindow(box, GW_CHILD); child != nullptr; child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == L"Button" && ::IsWindowVisible(child)) {
      buttons.push_back({{"id", ::GetDlgCtrlID(child)}, {"text", WideToUtf8(TextOf(child))}});
    }
  }
  result["buttons"] = buttons;
  const LONG exStyle = ::GetWindowLongW(box, GWL_EXSTYLE);
  result["rtl"] = (exStyle & WS_EX_RTLREADING) != 0;
  result["right"] = (exStyle & WS_EX_RIGHT) != 0;
  return result;
}

int ButtonId(const std::wstring& name) {
  if (name == L"OK") return IDOK;
  if (name == L"Cancel") return IDCANCEL;
  if (name == L"Yes") return IDYES;
  if (name == L"No") return IDNO;
  return _wtoi(name.c_str());
}

int Fail(const std::string& why) {
  PrintJson({{"ok", false}, {"error", why}});
  return 1;
}

int Run(const Options& options) {
  if (options.command == L"windows") {
    json list = json::array();
    const auto windows = TopLevelWindows();
    for (std::size_t i = 0; i < windows.size(); ++i) {
      if (Matches(windows[i], options)) list.push_back(Describe(windows[i], static_cast<int>(i)));
    }
    PrintJson({{"ok", true}, {"windows", list}});
    return 0;
  }
  if (options.command == L"wait") {
    const auto found = WaitFor(options);
    if (!found) return Fail(options.gone ? "window still there" : "no such window");
    if (options.gone) return PrintJson({{"ok", true}}), 0;
    PrintJson({{"ok", true}, {"window", Describe(found->first, found->second)}});
    return 0;
  }
  if (options.command == L"box" || options.command == L"press") {
    Options boxOptions = options;
    boxOptions.className = L"#32770";
    const auto found = WaitFor(boxOptions);
    if (!found) return Fail("no message box");
    // The box exists before its dialog procedure has made its controls and
    // shown it; wait for both so its text and buttons are read whole.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    // Every button set a box can have holds one of these; a Retry/Cancel
    // box has neither OK nor Yes.
    auto ready = [&] {
      if (!::IsWindowVisible(found->first)) return false;
      for (const int id : {IDOK, IDYES, IDRETRY, IDCANCEL, IDABORT}) {
        if (::GetDlgItem(found->first, id) != nullptr) return true;
      }
      return false;
    };
    while (!ready() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    json box = DescribeBox(found->first, found->second);
    if (options.command == L"press") {
      if (!options.button) return Fail("press needs --button");
      const int id = ButtonId(*options.button);
      HWND button = ::GetDlgItem(found->first, id);
      ::PostMessageW(found->first, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
      box["pressed"] = id;
    }
    PrintJson({{"ok", true}, {"box", box}});
    return 0;
  }
  if (options.command == L"close") {
    const auto found = WaitFor(options);
    if (!found) return Fail("no such window");
    ::PostMessageW(found->first, WM_CLOSE, 0, 0);
    PrintJson({{"ok", true}, {"window", Describe(found->first, found->second)}});
    return 0;
  }
  if (options.command == L"clipboard") {
    ClipboardScope clipboard(nullptr);
    if (!clipboard.open()) return Fail("clipboard not available");
    HANDLE data = ::GetClipboardData(CF_TEXT);
    if (data == nullptr) return PrintJson({{"ok", true}, {"text", nullptr}}), 0;
    GlobalLockScope lock(data);
    const char* text = static_cast<const char*>(lock.data());
    PrintJson({{"ok", true}, {"text", text != nullptr ? std::string(text) : std::string()}});
    return 0;
  }
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs(
        "usage: ui_driver windows|wait|box|press|close|clipboard [--class C] [--title T] [--button B] "
        "[--timeout MS] [--gone]\n",
        stderr);
    return 2;
  }
  // Rectangles in the screen's own pixels, as the player (per-monitor aware)
  // and the screenshots see them, not scaled down to 96 DPI for us.
  // Without the setting (old releases) everything is at 96 DPI anyway.
  (void)MakeProcessPerMonitorAware();
  Options options;
  options.command = argv[1];
  std::wstring timeoutMs;
  if (!ReadFlags(argc, argv, 2,
                 {ValueFlag(L"--class", options.className), ValueFlag(L"--title", options.title),
                  ValueFlag(L"--button", options.button), ValueFlag(L"--timeout", timeoutMs),
                  SwitchFlag(L"--gone", options.gone)})) {
    return 2;
  }
  if (!timeoutMs.empty()) options.timeoutMs = _wtoi(timeoutMs.c_str());
  try {
    const int code = Run(options);
    if (code == 2) std::fputs("unknown command\n", stderr);
    return code;
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
