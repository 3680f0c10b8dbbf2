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
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "common/Seams.h"
#include "common/Text.h"
#include "player/WebViewHost.h"
#include "runtime/CallbackHandler.h"

namespace {

using nlohmann::json;

template <typename F>
F RuntimeExport(const char* name) {
  HMODULE runtime = ::GetModuleHandleW(L"EmbeddedBrowserWebView.dll");
  return runtime == nullptr ? nullptr : reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(runtime, name)));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  wchar_t temp[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"host_probe_profile";
  bool settings = false, events = false, deleteUnstarted = false, show = false, early = false, dropEarly = false;
  std::wstring htmlFile, navigateTo;
  DWORD runMs = 0;
  int denied = -1;
  std::wstring devicesFrom;
  for (int i = 1; i < argc; ++i) {
    const std::wstring flag = argv[i];
    if (flag == L"--folder" && i + 1 < argc)
      folder = argv[++i];
    else if (flag == L"--settings")
      settings = true;
    else if (flag == L"--events")
      events = true;
    else if (flag == L"--delete-unstarted")
      deleteUnstarted = true;
    else if (flag == L"--show")
      show = true;
    else if (flag == L"--early")
      early = true;
    else if (flag == L"--drop-early")
      dropEarly = true;
    else if (flag == L"--html" && i + 1 < argc)
      htmlFile = argv[++i];
    else if (flag == L"--navigate" && i + 1 < argc)
      navigateTo = argv[++i];
    else if (flag == L"--run-ms" && i + 1 < argc)
      runMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    else if (flag == L"--deny" && i + 1 < argc)
      denied = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
    else if (flag == L"--devices-from" && i + 1 < argc)
      devicesFrom = argv[++i];
    else
      return 2;
  }

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

  if (deleteUnstarted) {
    auto* idle = new WebViewHost::WebView();
    WebViewHost::WebView::Options idleOptions;
    idleOptions.onInitComplete = [](bool) {};
    idle->SetOptions(std::move(idleOptions));
    delete idle;
    out["deleted_unstarted"] = true;
  }

  const auto drain = [] {
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  };
  const auto pump = [&drain](DWORD ms) {
    const ULONGLONG until = ::GetTickCount64() + ms;
    for (ULONGLONG now = ::GetTickCount64(); now < until; now = ::GetTickCount64()) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(until - now), QS_ALLINPUT);
      drain();
    }
  };
  if (dropEarly) {
    auto unused = WebViewHost::StartedEnvironment::Start(folder);
    out["call_result"] = static_cast<unsigned long>(unused->callResult());
    pump(runMs);
    unused.reset();
    pump(runMs);
    const std::string text = out.dump();
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
  }
  std::unique_ptr<WebViewHost::StartedEnvironment> earlyStart;
  if (early) {
    earlyStart = WebViewHost::StartedEnvironment::Start(folder);
    ::Sleep(300);
    drain();
  }

  HWND window = ::CreateWindowExW(0, L"STATIC", L"host probe", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr, nullptr,
                                  nullptr, nullptr);
  if (show) ::ShowWindow(window, SW_SHOWNORMAL);
  auto* view = new WebViewHost::WebView();
  WebViewHost::WebView::Options options;
  // The owner's rule decides the devices by the requesting frame's address.
  if (!devicesFrom.empty()) {
    options.mayUseDevices = [devicesFrom](const std::wstring& uri) { return uri.starts_with(devicesFrom); };
  }
  bool initializeReturned = false;
  json completions = json::array();
  json messages = json::array();
  options.onInitComplete = [&](bool success) {
    completions.push_back({{"success", success}, {"inside_initialize", !initializeReturned}});
    if (success && settings) view->ApplySettings();
  };
  options.onWebMessage = [&](const std::wstring& message) { messages.push_back(WideToUtf8(message)); };
  json navigations = json::array();
  options.onNavigationStarting = [&](const std::wstring& uri, bool& cancel) {
    cancel = uri.find(L"blocked") != std::wstring::npos;
    navigations.push_back({{"uri", WideToUtf8(uri)}, {"cancel", cancel}});
  };
  json seenRequests = json::array();
  options.onResourceRequested = [&](const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs*) {
    seenRequests.push_back(WideToUtf8(uri));
  };
  view->SetOptions(std::move(options));
  const auto starting = std::chrono::steady_clock::now();
  const bool started = view->Initialize(window, folder, std::move(earlyStart));
  initializeReturned = true;
  out["initialize_ms"] =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - starting).count();
  out["initialized"] = started;
  out["completions"] = completions;

  // Registered after the player's handler, so it sees the state the player left.
  json permissions = json::array();
  EventRegistrationToken permissionToken{};
  if (started && view->webview() != nullptr) {
    view->webview()->add_PermissionRequested(
        runtime::MakeHandler<ICoreWebView2PermissionRequestedEventHandler>(
            [&](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) {
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
        &permissionToken);
  }

  if (started && events) {
    using RaiseNavigation = HRESULT(__stdcall*)(const wchar_t*, int*);
    using RaiseMessage = HRESULT(__stdcall*)(const wchar_t*, int);
    using RaisePermission = HRESULT(__stdcall*)(const wchar_t*, int, int*);
    using RaiseNewWindow = HRESULT(__stdcall*)(const wchar_t*, int*);
    using RaiseResource = HRESULT(__stdcall*)(const wchar_t*, const wchar_t*, wchar_t*, int);
    int cancel = -1;
    RuntimeExport<RaiseNavigation>("ScriptedRuntime_RaiseNavigationStarting")(L"https://blocked.example/", &cancel);
    out["cancel_blocked"] = cancel;
    RuntimeExport<RaiseNavigation>("ScriptedRuntime_RaiseNavigationStarting")(L"https://fine.example/", &cancel);
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
  if (started && !htmlFile.empty()) {
    std::ifstream file(htmlFile.c_str(), std::ios::binary);
    const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    out["html_shown"] = SUCCEEDED(view->webview()->NavigateToString(Utf8ToWide(page).c_str()));
  }
  if (started && !navigateTo.empty()) out["navigated"] = SUCCEEDED(view->webview()->Navigate(navigateTo.c_str()));
  // The page's events arrive while this thread pumps, as in the player.
  pump(runMs);
  out["navigations"] = navigations;
  out["permissions"] = permissions;
  out["messages"] = messages;
  out["requests_seen"] = seenRequests;
  out["boxes"] = boxes;

  delete view;
  ::DestroyWindow(window);
  const std::string text = out.dump(-1, ' ', false, json::error_handler_t::replace);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
  return 0;
}
