// Test program: one browser host in one window, started through the
// program's own loader against whatever runtime the prefix has (the scripted
// one in the tests), then the events the options ask for. Prints one JSON
// object. The runtime's own script and log come from its environment
// variables. Options:
//   --folder DIR        the profile folder (default: %TEMP%\host_probe_profile)
//   --settings          ApplySettings in onInitComplete(true)
//   --events            raise one of each event after a successful start
//   --delete-unstarted  also create and delete a host that never started
//   --show              shows the window (for screenshots)
//   --html FILE         after the start, shows the UTF-8 page in FILE (NavigateToString)
//   --navigate URI      after the start (and the page), navigates there
//   --run-ms N          pumps messages N ms before ending, so page events arrive
//   --early             starts the environment before the window exists, blocks the
//                       thread 300 ms without pumping (the service exchanges), handles
//                       what is queued (an answer that came meanwhile), then hands it
//                       to Initialize
//   --drop-early        starts the environment, pumps --run-ms, drops it unused, pumps
//                       --run-ms again, and ends without any host
//   --devices-from P    pages whose address starts with P get camera, microphone and
//                       notifications unasked (the owner's rule; default: no page)
//   --deny KIND         after the player's own handler, denies permission requests of
//                       that COREWEBVIEW2_PERMISSION_KIND (the player never denies)
#include <windows.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/Seams.h"
#include "common/Text.h"
#include "player/WebViewHost.h"
#include "runtime/CallbackHandler.h"
#include "tests/tools/Flags.h"
#include "tests/tools/PrintJson.h"

namespace {

using nlohmann::json;

struct Options {
  std::wstring folder;
  bool settings = false, events = false, deleteUnstarted = false, show = false, early = false, dropEarly = false;
  std::wstring htmlFile, navigateTo, devicesFrom;
  DWORD runMs = 0;
  int denied = -1;
};

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
  Options options;
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  options.folder = std::wstring(temp) + L"host_probe_profile";
  std::wstring runMs, denied;
  if (!ReadFlags(argc, argv, 1,
                 {ValueFlag(L"--folder", options.folder), ValueFlag(L"--html", options.htmlFile),
                  ValueFlag(L"--navigate", options.navigateTo), ValueFlag(L"--devices-from", options.devicesFrom),
                  ValueFlag(L"--run-ms", runMs), ValueFlag(L"--deny", denied),
                  SwitchFlag(L"--settings", options.settings), SwitchFlag(L"--events", options.events),
                  SwitchFlag(L"--delete-unstarted", options.deleteUnstarted), SwitchFlag(L"--show", options.show),
                  SwitchFlag(L"--early", options.early), SwitchFlag(L"--drop-early", options.dropEarly)})) {
    return std::nullopt;
  }
  options.runMs = static_cast<DWORD>(std::wcstoul(runMs.c_str(), nullptr, 10));
  if (!denied.empty()) options.denied = static_cast<int>(std::wcstol(denied.c_str(), nullptr, 10));
  return options;
}

template <typename F>
F RuntimeExport(const char* name) {
  HMODULE runtime = ::GetModuleHandleW(L"EmbeddedBrowserWebView.dll");
  return runtime == nullptr ? nullptr : reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(runtime, name)));
}

void Drain() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void Pump(DWORD ms) {
  const ULONGLONG until = ::GetTickCount64() + ms;
  for (ULONGLONG now = ::GetTickCount64(); now < until; now = ::GetTickCount64()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
    Drain();
  }
}

// The host's callbacks add what they are passed to out's lists.
WebViewHost::WebView::Options HostOptions(const Options& probe, WebViewHost::WebView* view, json& out,
                                          const bool& initializeReturned) {
  WebViewHost::WebView::Options options;
  // The owner's rule decides the devices by the requesting frame's address.
  if (!probe.devicesFrom.empty()) {
    options.mayUseDevices = [from = probe.devicesFrom](const std::wstring& uri) { return uri.starts_with(from); };
  }
  options.onInitComplete = [&out, &initializeReturned, view, settings = probe.settings](bool success) {
    out["completions"].push_back({{"success", success}, {"inside_initialize", !initializeReturned}});
    if (success && settings) view->ApplySettings();
  };
  options.onWebMessage = [&out](const std::wstring& message) { out["messages"].push_back(WideToUtf8(message)); };
  options.onNavigationStarting = [&out](const std::wstring& uri, bool& cancel) {
    cancel = uri.find(L"blocked") != std::wstring::npos;
    out["navigations"].push_back({{"uri", WideToUtf8(uri)}, {"cancel", cancel}});
  };
  options.onResourceRequested = [&out](const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs*) {
    out["requests_seen"].push_back(WideToUtf8(uri));
  };
  return options;
}

// Registered after the player's handler, so it sees the state the player left.
void WatchPermissions(ICoreWebView2* webview, int denied, json& permissions) {
  EventRegistrationToken token{};
  webview->add_PermissionRequested(
      runtime::MakeHandler<ICoreWebView2PermissionRequestedEventHandler>(
          [denied, &permissions](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
            COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
            COREWEBVIEW2_PERMISSION_STATE state = COREWEBVIEW2_PERMISSION_STATE_DEFAULT;
            BOOL user = FALSE;
            LPWSTR uri = nullptr;
            args->get_PermissionKind(&kind);
            args->get_State(&state);
            args->get_IsUserInitiated(&user);
            args->get_Uri(&uri);
            const std::string origin = uri != nullptr ? WideToUtf8(uri) : std::string();
            ::CoTaskMemFree(uri);
            if (static_cast<int>(kind) == denied) {
              state = COREWEBVIEW2_PERMISSION_STATE_DENY;
              args->put_State(state);
            }
            permissions.push_back(
                {{"kind", kind}, {"uri", origin}, {"user", user != FALSE}, {"state", static_cast<int>(state)}});
          })
          .Get(),
      &token);
}

// One of each event through the scripted runtime's own exports, with what
// the handlers answered.
void RaiseEachEvent(json& out) {
  using RaiseNavigation = HRESULT(__stdcall*)(const wchar_t*, int*);
  using RaiseMessage = HRESULT(__stdcall*)(const wchar_t*, int);
  using RaisePermission = HRESULT(__stdcall*)(const wchar_t*, int, int*);
  using RaiseNewWindow = HRESULT(__stdcall*)(const wchar_t*, int*);
  using RaiseResource = HRESULT(__stdcall*)(const wchar_t*, const wchar_t*, wchar_t*, int);
  const auto navigation = RuntimeExport<RaiseNavigation>("ScriptedRuntime_RaiseNavigationStarting");
  int cancel = -1;
  navigation(L"https://blocked.example/", &cancel);
  out["cancel_blocked"] = cancel;
  navigation(L"https://fine.example/", &cancel);
  out["cancel_fine"] = cancel;
  RuntimeExport<RaiseMessage>("ScriptedRuntime_RaiseWebMessage")(L"\"pageLoaded\"", 1);
  RuntimeExport<RaiseMessage>("ScriptedRuntime_RaiseWebMessage")(L"{\"a\":1}", 0);
  json states = json::object();
  for (const wchar_t* frame : {L"https://devices.example/room", L"https://other.example/frame"}) {
    json byKind = json::object();
    for (int kind = 0; kind <= 6; ++kind) {
      int state = -1;
      RuntimeExport<RaisePermission>("ScriptedRuntime_RaisePermission")(frame, kind, &state);
      byKind[std::to_string(kind)] = state;
    }
    states[WideToUtf8(frame)] = byKind;
  }
  out["permission_states"] = states;
  json handled = json::array();
  for (const wchar_t* uri : {L"https://popup.example/page", L"file://evil.example/share/x"}) {
    int one = -1;
    RuntimeExport<RaiseNewWindow>("ScriptedRuntime_RaiseNewWindow")(uri, &one);
    handled.push_back(one);
  }
  out["new_window_handled"] = handled;
  std::vector<wchar_t> result(8192, L'\0');
  RuntimeExport<RaiseResource>("ScriptedRuntime_RaiseResourceRequest")(
      L"https://stream.b-cdn.net/lesson/hls/x.ts", L"{}", result.data(), static_cast<int>(result.size()));
  out["resource"] = json::parse(WideToUtf8(result.data()), nullptr, false);
}

// Starts the environment, drops it unused and ends without any host.
void DropEarly(const Options& probe, json& out) {
  auto unused = WebViewHost::StartedEnvironment::Start(probe.folder);
  out["call_result"] = static_cast<unsigned long>(unused->callResult());
  Pump(probe.runMs);
  unused.reset();
  Pump(probe.runMs);
}

void RunHost(const Options& probe, json& out) {
  std::unique_ptr<WebViewHost::StartedEnvironment> earlyStart;
  if (probe.early) {
    earlyStart = WebViewHost::StartedEnvironment::Start(probe.folder);
    ::Sleep(300);
    Drain();
  }
  HWND window = ::CreateWindowExW(0, L"STATIC", L"host probe", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                  nullptr, nullptr);
  if (probe.show) ::ShowWindow(window, SW_SHOWNORMAL);
  auto* view = new WebViewHost::WebView();
  bool initializeReturned = false;
  for (const char* list : {"completions", "navigations", "permissions", "messages", "requests_seen"}) {
    out[list] = json::array();
  }
  view->SetOptions(HostOptions(probe, view, out, initializeReturned));
  const auto starting = std::chrono::steady_clock::now();
  const bool started = view->Initialize(window, probe.folder, std::move(earlyStart));
  initializeReturned = true;
  out["initialize_ms"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - starting).count();
  out["initialized"] = started;
  if (started && view->webview() != nullptr) WatchPermissions(view->webview(), probe.denied, out["permissions"]);
  if (started && probe.events) RaiseEachEvent(out);
  if (started && !probe.htmlFile.empty()) {
    std::ifstream file(probe.htmlFile.c_str(), std::ios::binary);
    const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    out["html_shown"] = SUCCEEDED(view->webview()->NavigateToString(Utf8ToWide(page).c_str()));
  }
  if (started && !probe.navigateTo.empty())
    out["navigated"] = SUCCEEDED(view->webview()->Navigate(probe.navigateTo.c_str()));
  // The page's events arrive while this thread pumps, as in the player.
  Pump(probe.runMs);
  delete view;
  ::DestroyWindow(window);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const auto probe = ParseOptions(argc, argv);
  if (!probe) return 2;
  json out;
  json boxes = json::array();
  seams::Hooks hooks;
  hooks.messageBox = [&](HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) {
    boxes.push_back(
        {{"title", WideToUtf8(caption)}, {"text", WideToUtf8(text)}, {"flags", flags}, {"owned", owner != nullptr}});
    return IDOK;
  };
  hooks.sleep = [&](std::chrono::milliseconds duration) { out["slept_ms"] = duration.count(); };
  seams::ScopedHooks scope(std::move(hooks));
  if (probe->deleteUnstarted) {
    // A host that is given its options and deleted before it ever starts.
    auto* idle = new WebViewHost::WebView();
    WebViewHost::WebView::Options idleOptions;
    idleOptions.onInitComplete = [](bool) {};
    idle->SetOptions(std::move(idleOptions));
    delete idle;
    out["deleted_unstarted"] = true;
  }
  if (probe->dropEarly) {
    DropEarly(*probe, out);
  } else {
    RunHost(*probe, out);
    out["boxes"] = boxes;
  }
  PrintJson(out);
  return 0;
}
