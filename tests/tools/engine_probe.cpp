// Test program: the browser engine driven straight through the program's own
// loader and declarations, without the player's host, so a test sees what the
// engine itself does when its processes fail and its navigations end. Writes
// one JSON line per thing the host saw (read through the interfaces) to the
// --events file. The runtime's own log comes from its environment variable.
//
// What the host does on its own, as a player would: the view gets a script
// for every document (it posts "script:<path>", and "echo:ping" when the host
// answers that with "ping"), a request filter that stamps
// every request with the view's generation (X-Probe), and handlers for every
// event below. A renderer that failed is reloaded; a browser that exited has
// its dead objects tried (their results are written down), closed and let go,
// and a new environment and controller on the same folder navigate to the
// first address again.
//
// Options:
//   --folder DIR      the user data folder
//   --navigate URI    the first address
//   --events FILE     where the lines go
//   --commands FILE   polled every 100 ms; each new line is one command:
//                       navigate URI | html TEXT | reload | quit
//   --run-ms N        ends after N ms whatever happens (default 120000)
//
// A navigation to an address with "blocked" in it is cancelled.
#include <windows.h>
#include <wrl/client.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <string>

#include "common/Handles.h"
#include "common/Text.h"
#include "runtime/BrowserLoader.h"
#include "runtime/CallbackHandler.h"

namespace {

using Microsoft::WRL::ComPtr;
using nlohmann::json;

struct Probe {
  HWND window = nullptr;
  std::wstring folder;
  std::wstring firstAddress;
  std::wstring eventsPath;
  std::wstring commandsPath;
  size_t commandOffset = 0;
  int generation = 0;
  bool quit = false;
  ComPtr<ICoreWebView2Environment> environment;
  ComPtr<ICoreWebView2Controller> controller;
  ComPtr<ICoreWebView2> view;
};

Probe probe;

void Record(json line) {
  const std::string text = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
  UniqueHandle file(::CreateFileW(probe.eventsPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string Hex(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
  return buffer;
}

std::string TakeText(LPWSTR text) {
  const UniqueCoTaskMem<wchar_t> owned(text);
  return text != nullptr ? WideToUtf8(text) : std::string();
}

void CreateEnvironment();

// The objects of a browser that exited: what they answer now, then Close.
void TryDeadObjects() {
  json results = json::object();
  results["Navigate"] = Hex(probe.view->Navigate(probe.firstAddress.c_str()));
  results["Reload"] = Hex(probe.view->Reload());
  results["ExecuteScript"] = Hex(probe.view->ExecuteScript(L"1", nullptr));
  RECT bounds{0, 0, 100, 100};
  results["put_Bounds"] = Hex(probe.controller->put_Bounds(bounds));
  results["CreateCoreWebView2Controller"] = Hex(probe.environment->CreateCoreWebView2Controller(
      probe.window,
      runtime::MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>([](HRESULT made,
                                                                                         ICoreWebView2Controller*) {
        Record({{"event", "dead_environment_answered"}, {"hr", Hex(made)}});
      }).Get()));
  results["Close"] = Hex(probe.controller->Close());
  Record({{"event", "dead_calls"}, {"generation", probe.generation}, {"results", results}});
}

void OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind = COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED;
  args->get_ProcessFailedKind(&kind);
  json line = {{"event", "process_failed"}, {"generation", probe.generation}, {"kind", kind}};
  ComPtr<ICoreWebView2ProcessFailedEventArgs2> more;
  if (SUCCEEDED(args->QueryInterface(IID_PPV_ARGS(&more)))) {
    COREWEBVIEW2_PROCESS_FAILED_REASON reason = COREWEBVIEW2_PROCESS_FAILED_REASON_UNEXPECTED;
    int exitCode = -1;
    LPWSTR description = nullptr;
    more->get_Reason(&reason);
    more->get_ExitCode(&exitCode);
    more->get_ProcessDescription(&description);
    line["reason"] = reason;
    line["exit_code"] = exitCode;
    line["description"] = TakeText(description);
  }
  Record(line);
  if (kind == COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED) {
    TryDeadObjects();
    probe.view.Reset();
    probe.controller.Reset();
    probe.environment.Reset();
    CreateEnvironment();
  } else {
    Record({{"event", "reload"}, {"hr", Hex(probe.view->Reload())}});
  }
}

void SetUpView() {
  ICoreWebView2* view = probe.view.Get();
  EventRegistrationToken token{};
  view->add_NavigationStarting(
      runtime::MakeHandler<ICoreWebView2NavigationStartingEventHandler>(
          [](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) {
            LPWSTR uri = nullptr;
            UINT64 id = 0;
            args->get_Uri(&uri);
            args->get_NavigationId(&id);
            const std::string address = TakeText(uri);
            const bool cancel = address.find("blocked") != std::string::npos;
            if (cancel) args->put_Cancel(TRUE);
            Record({{"event", "navigation_starting"}, {"uri", address}, {"id", id}, {"cancel", cancel}});
          })
          .Get(),
      &token);
  view->add_NavigationCompleted(runtime::MakeHandler<ICoreWebView2NavigationCompletedEventHandler>(
                                    [](ICoreWebView2* sender, ICoreWebView2NavigationCompletedEventArgs* args) {
                                      BOOL success = FALSE;
                                      COREWEBVIEW2_WEB_ERROR_STATUS status =
                                          COREWEBVIEW2_WEB_ERROR_STATUS_UNEXPECTED_ERROR;
                                      UINT64 id = 0;
                                      int http = -1;
                                      args->get_IsSuccess(&success);
                                      args->get_WebErrorStatus(&status);
                                      args->get_NavigationId(&id);
                                      ComPtr<ICoreWebView2NavigationCompletedEventArgs2> more;
                                      if (SUCCEEDED(args->QueryInterface(IID_PPV_ARGS(&more))))
                                        more->get_HttpStatusCode(&http);
                                      LPWSTR source = nullptr;
                                      sender->get_Source(&source);
                                      Record({{"event", "navigation_completed"},
                                              {"generation", probe.generation},
                                              {"source", TakeText(source)},
                                              {"id", id},
                                              {"success", success != FALSE},
                                              {"web_error_status", status},
                                              {"http_status", http}});
                                    })
                                    .Get(),
                                &token);
  view->add_ProcessFailed(
      runtime::MakeHandler<ICoreWebView2ProcessFailedEventHandler>([](ICoreWebView2*,
                                                                      ICoreWebView2ProcessFailedEventArgs* args) {
        OnProcessFailed(args);
      }).Get(),
      &token);
  view->add_WebMessageReceived(
      runtime::MakeHandler<ICoreWebView2WebMessageReceivedEventHandler>(
          [](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) {
            LPWSTR text = nullptr;
            if (FAILED(args->TryGetWebMessageAsString(&text))) return;
            const std::string message = TakeText(text);
            Record({{"event", "message"}, {"generation", probe.generation}, {"text", message}});
            // The page's script answers the host's messages: both ways are checked on every load.
            if (message.starts_with("script:")) probe.view->PostWebMessageAsString(L"ping");
          })
          .Get(),
      &token);
  view->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
  view->add_WebResourceRequested(
      runtime::MakeHandler<ICoreWebView2WebResourceRequestedEventHandler>(
          [](ICoreWebView2*, ICoreWebView2WebResourceRequestedEventArgs* args) {
            ComPtr<ICoreWebView2WebResourceRequest> request;
            ComPtr<ICoreWebView2HttpRequestHeaders> headers;
            if (SUCCEEDED(args->get_Request(&request)) && SUCCEEDED(request->get_Headers(&headers))) {
              headers->SetHeader(L"X-Probe", std::to_wstring(probe.generation).c_str());
            }
          })
          .Get(),
      &token);
  view->AddScriptToExecuteOnDocumentCreated(
      L"chrome.webview.addEventListener('message', (e) => chrome.webview.postMessage('echo:' + e.data));"
      L"addEventListener('DOMContentLoaded', () => chrome.webview.postMessage('script:' + location.pathname));",
      nullptr);
  Record({{"event", "ready"}, {"generation", probe.generation}});
  view->Navigate(probe.firstAddress.c_str());
}

void CreateEnvironment() {
  ++probe.generation;
  const HRESULT hr = CreateCoreWebView2EnvironmentWithOptions(
      nullptr, probe.folder.c_str(), nullptr,
      runtime::MakeHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
          [](HRESULT result, ICoreWebView2Environment* environment) {
            if (FAILED(result) || environment == nullptr) {
              Record({{"event", "environment_failed"}, {"hr", Hex(result)}});
              return;
            }
            probe.environment = environment;
            const HRESULT asked = environment->CreateCoreWebView2Controller(
                probe.window, runtime::MakeHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
                                  [](HRESULT made, ICoreWebView2Controller* controller) {
                                    if (FAILED(made) || controller == nullptr) {
                                      Record({{"event", "controller_failed"}, {"hr", Hex(made)}});
                                      return;
                                    }
                                    probe.controller = controller;
                                    RECT client{};
                                    ::GetClientRect(probe.window, &client);
                                    controller->put_Bounds(client);
                                    controller->get_CoreWebView2(&probe.view);
                                    SetUpView();
                                  })
                                  .Get());
            if (FAILED(asked)) Record({{"event", "controller_failed"}, {"hr", Hex(asked)}});
          })
          .Get());
  if (FAILED(hr)) Record({{"event", "environment_failed"}, {"hr", Hex(hr)}});
}

void RunCommand(const std::string& line) {
  const std::size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::wstring rest = space == std::string::npos ? std::wstring() : Utf8ToWide(line.substr(space + 1));
  HRESULT hr = E_INVALIDARG;
  if (verb == "quit") {
    probe.quit = true;
    return;
  }
  if (!probe.view) {
    hr = HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  } else if (verb == "navigate") {
    hr = probe.view->Navigate(rest.c_str());
  } else if (verb == "html") {
    hr = probe.view->NavigateToString(rest.c_str());
  } else if (verb == "reload") {
    hr = probe.view->Reload();
  }
  Record({{"event", "command"}, {"command", line}, {"hr", Hex(hr)}});
}

void PollCommands() {
  std::ifstream file(probe.commandsPath.c_str(), std::ios::binary);
  if (!file) return;
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  while (probe.commandOffset < text.size()) {
    const std::size_t end = text.find('\n', probe.commandOffset);
    if (end == std::string::npos) return;  // the line is not finished yet
    std::string line = text.substr(probe.commandOffset, end - probe.commandOffset);
    probe.commandOffset = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) RunCommand(line);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  DWORD runMs = 120000;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::wstring flag = argv[i];
    if (flag == L"--folder")
      probe.folder = argv[i + 1];
    else if (flag == L"--navigate")
      probe.firstAddress = argv[i + 1];
    else if (flag == L"--events")
      probe.eventsPath = argv[i + 1];
    else if (flag == L"--commands")
      probe.commandsPath = argv[i + 1];
    else if (flag == L"--run-ms")
      runMs = static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10));
    else
      return 2;
  }
  if (probe.folder.empty() || probe.firstAddress.empty() || probe.eventsPath.empty()) return 2;

  probe.window = ::CreateWindowExW(0, L"STATIC", L"engine probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480,
                                   nullptr, nullptr, nullptr, nullptr);
  CreateEnvironment();
  const ULONGLONG until = ::GetTickCount64() + runMs;
  ULONGLONG nextPoll = 0;
  while (!probe.quit && ::GetTickCount64() < until) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG message{};
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
    if (!probe.commandsPath.empty() && ::GetTickCount64() >= nextPoll) {
      nextPoll = ::GetTickCount64() + 100;
      PollCommands();
    }
  }
  if (probe.controller) probe.controller->Close();
  probe.view.Reset();
  probe.controller.Reset();
  probe.environment.Reset();
  ::DestroyWindow(probe.window);
  Record({{"event", "ended"}});
  return 0;
}
