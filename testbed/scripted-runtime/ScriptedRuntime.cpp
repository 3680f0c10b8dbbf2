// A browser runtime that only pretends: it answers the player's calls through
// vtables laid out from the program's own interface declarations, records
// every call in a log, and raises the events a test asks for. Never shipped.
//
// The objects and their vtables come from testbed/runtime-objects, which the
// Chromium-backed runtime shares; what is particular to this one is the
// script, the page surface that only names what it was told to show, and
// the events raised on a test's request.
#include <windows.h>
#include <objbase.h>

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/Handles.h"
#include "testbed/runtime-objects/RuntimeObjects.h"

namespace {

using namespace runtime_objects;

// ---------------------------------------------------------------- script

struct Script {
  std::vector<HRESULT> environmentResults;
  HRESULT environmentCallResult = S_OK;
  // How long environment completions wait; negative: they never come.
  int environmentDelayMs = 0;
  HRESULT controllerResult = S_OK;
  HRESULT controllerSyncFailure = S_OK;
  bool offerView22 = true;
  bool offerController2 = true;
  bool offerController4 = true;
  bool offerSettings3 = true;
  bool offerSettings7 = true;
  bool canGoBack = false;
  std::wstring version = L"129.0.2792.45";
  // Registration calls ("add_NavigationStarting", "AddWebResourceRequestedFilter"...)
  // that fail with the given code instead of registering.
  std::map<std::string, HRESULT> failingCalls;
  // How navigations to addresses starting with a prefix end; the longest
  // prefix wins, and the rest succeed.
  std::vector<std::pair<std::wstring, NavigationOutcome>> navigationOutcomes;
};

HRESULT ResultValue(const Json& value) {
  if (value.is_number()) return static_cast<HRESULT>(value.get<std::int64_t>());
  if (value.is_string()) {
    const std::string text = value.get<std::string>();
    return static_cast<HRESULT>(std::strtoul(text.c_str(), nullptr, 0));
  }
  return S_OK;
}

Script LoadScript() {
  Script script;
  const std::wstring path = EnvironmentValue(L"MIRAVELL_RUNTIME_SCRIPT");
  if (path.empty()) return script;
  std::ifstream file(path.c_str(), std::ios::binary);
  const Json json = Json::parse(file, nullptr, false);
  if (!json.is_object()) return script;
  if (json.contains("environment_results") && json["environment_results"].is_array()) {
    for (const auto& entry : json["environment_results"]) script.environmentResults.push_back(ResultValue(entry));
  }
  if (json.contains("environment_call_result"))
    script.environmentCallResult = ResultValue(json["environment_call_result"]);
  if (json.contains("environment_delay_ms") && json["environment_delay_ms"].is_number_integer()) {
    script.environmentDelayMs = json["environment_delay_ms"].get<int>();
  }
  if (json.contains("controller_result")) script.controllerResult = ResultValue(json["controller_result"]);
  if (json.contains("controller_sync_failure"))
    script.controllerSyncFailure = ResultValue(json["controller_sync_failure"]);
  script.offerView22 = json.value("offer_view22", true);
  script.offerController2 = json.value("offer_controller2", true);
  script.offerController4 = json.value("offer_controller4", true);
  script.offerSettings3 = json.value("offer_settings3", true);
  script.offerSettings7 = json.value("offer_settings7", true);
  script.canGoBack = json.value("can_go_back", false);
  if (json.contains("version") && json["version"].is_string())
    script.version = Wide(json["version"].get<std::string>());
  if (json.contains("failing_calls") && json["failing_calls"].is_object()) {
    for (const auto& [call, result] : json["failing_calls"].items()) script.failingCalls[call] = ResultValue(result);
  }
  if (json.contains("navigation_failures") && json["navigation_failures"].is_object()) {
    for (const auto& [prefix, failure] : json["navigation_failures"].items()) {
      if (!failure.is_object()) continue;
      NavigationOutcome outcome;
      outcome.success = failure.value("success", false);
      outcome.webErrorStatus = failure.value("web_error_status", 0);
      outcome.httpStatusCode = failure.value("http_status", 0);
      script.navigationOutcomes.emplace_back(Wide(prefix), outcome);
    }
  }
  return script;
}

constexpr UINT_PTR kCommandTimer = 1;
Script loadedScript;
bool scriptLoaded = false;
size_t environmentCreations = 0;

void PollCommands();

// The post window also polls the command file, on a timer of its own.
bool OnPostWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message != WM_TIMER || wParam != kCommandTimer) return false;
  try {
    PollCommands();
  } catch (...) {
    Log("runtime", "command_failed");
  }
  return true;
}

void EnsureScriptedPostWindow() {
  if (EnsurePostWindow() && !EnvironmentValue(L"MIRAVELL_RUNTIME_COMMANDS").empty()) {
    SetTimer(postWindow, kCommandTimer, 100, nullptr);
  }
}

// ---------------------------------------------------------------- the page surface

// What a person looking at the screen sees of the engine: a child window over
// the controller's bounds that names what the view was told to show (there is
// no page to render). Its text is the window text.
constexpr wchar_t kPageClass[] = L"MiravellScriptedRuntimePage";

LRESULT CALLBACK PageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    const PaintScope paint(window);
    HDC dc = paint.dc();
    RECT area{};
    GetClientRect(window, &area);
    const UniqueGdiObject<HBRUSH> background(CreateSolidBrush(RGB(18, 18, 18)));
    FillRect(dc, &area, background.get());
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(220, 220, 220));
    const SelectionScope font(dc, GetStockObject(DEFAULT_GUI_FONT));
    InflateRect(&area, -24, -24);
    DrawTextW(dc, text.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakePage(HWND parent) {
  if (!IsWindow(parent)) return nullptr;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &PageWindowProc;
  windowClass.hInstance = ModuleHandle();
  windowClass.lpszClassName = kPageClass;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&windowClass);  // fails harmlessly once registered
  return CreateWindowExW(0, kPageClass, L"Scripted browser engine: nothing loaded yet", WS_CHILD | WS_VISIBLE, 0, 0, 0,
                         0, parent, nullptr, windowClass.hInstance, nullptr);
}

void ShowOnPage(HWND page, const std::wstring& what, int scripts) {
  if (page == nullptr || !IsWindow(page)) return;
  std::wstring text = L"Scripted browser engine (tests only: it renders no pages)\n\n" + what;
  text += L"\n\nScripts added to every document: " + std::to_wstring(scripts);
  SetWindowTextW(page, text.c_str());
  InvalidateRect(page, nullptr, TRUE);
}

const Script& CurrentScript() {
  if (!scriptLoaded) {
    loadedScript = LoadScript();
    scriptLoaded = true;
  }
  return loadedScript;
}

// ---------------------------------------------------------------- the view

// Bumped when a test ends the pretended browser process: every object made
// before then is dead, as the real engine's are once its browser is gone,
// and the next environment starts a new one.
int browserGeneration = 0;

// What the objects of a browser that exited answer to anything but Close and Release.
HRESULT BrowserGone() { return HRESULT_FROM_WIN32(ERROR_INVALID_STATE); }

struct View : ViewBase {
  Settings* settings = nullptr;
  std::wstring source = L"about:blank";
  HWND page = nullptr;  // owned by the controller
  int scripts = 0;
  int generation = browserGeneration;
  bool closed = false;  // its controller was closed: nothing more is raised
  std::uint64_t lastNavigationId = 0;
  [[nodiscard]] bool dead() const { return generation != browserGeneration; }
  ~View() {
    if (settings != nullptr) ReleaseObject(settings);
  }
};

View* currentView = nullptr;  // the view raised events go to; not owning

HRESULT STDMETHODCALLTYPE ViewGetSettings(void* self, void** settings) {
  Log("view", "get_Settings");
  if (settings == nullptr) return E_POINTER;
  View* view = Self<View>(self);
  AddRefObject(view->settings);
  *settings = view->settings;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewGetSource(void* self, LPWSTR* uri) {
  Log("view", "get_Source");
  return CopyOut(Self<View>(self)->source, uri);
}

// How a navigation to uri ends, by the script: a page the host made
// involves no HTTP request, so it has no status.
NavigationOutcome ScriptedOutcome(const std::wstring& uri, bool hostMade) {
  NavigationOutcome outcome;
  outcome.httpStatusCode = hostMade ? 0 : 200;
  size_t longest = 0;
  for (const auto& [prefix, scripted] : CurrentScript().navigationOutcomes) {
    if (!hostMade && prefix.size() >= longest && uri.compare(0, prefix.size(), prefix) == 0) {
      longest = prefix.size();
      outcome = scripted;
    }
  }
  return outcome;
}

HRESULT RaiseNavigationCompleted(View* view, NavigationOutcome outcome) {
  if (view == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  if (outcome.id == 0) outcome.id = ++view->lastNavigationId;
  Args* args = MakeNavigationCompletedArgs(outcome);
  Raise<kNavigationCompleted>(view, args);
  LogNavigationCompleted(Utf8(view->source.c_str()), outcome);
  ReleaseObject(args);
  return S_OK;
}

// The real engine completes a navigation later, on the caller's thread.
void CompleteLater(View* view, const std::wstring& uri, bool hostMade) {
  NavigationOutcome outcome = ScriptedOutcome(uri, hostMade);
  outcome.id = ++view->lastNavigationId;
  AddRefObject(view);
  Later([view, outcome] {
    if (!view->closed && !view->dead()) RaiseNavigationCompleted(view, outcome);
    ReleaseObject(view);
  });
}

HRESULT STDMETHODCALLTYPE ViewNavigate(void* self, LPCWSTR uri) {
  Log("view", "Navigate", Json::array({Text(uri)}));
  if (uri == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  if (view->dead()) return BrowserGone();
  view->source = uri;
  ShowOnPage(view->page, std::wstring(L"Navigated to ") + uri, view->scripts);
  CompleteLater(view, uri, false);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewNavigateToString(void* self, LPCWSTR html) {
  Log("view", "NavigateToString", Json::array({Text(html)}));
  if (html == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  if (view->dead()) return BrowserGone();
  view->source = L"about:blank";
  ShowOnPage(view->page, L"Showing a page made by the host (" + std::to_wstring(wcslen(html)) + L" characters)",
             view->scripts);
  CompleteLater(view, view->source, true);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewReload(void* self) {
  Log("view", "Reload");
  View* view = Self<View>(self);
  if (view->dead()) return BrowserGone();
  ShowOnPage(view->page, L"Reloaded " + view->source, view->scripts);
  CompleteLater(view, view->source, view->source == L"about:blank");
  return S_OK;
}

// The code a test made this registration call fail with, or S_OK.
HRESULT ScriptedFailure(const std::string& call) {
  const auto& failing = CurrentScript().failingCalls;
  const auto found = failing.find(call);
  return found == failing.end() ? S_OK : found->second;
}

HRESULT STDMETHODCALLTYPE ViewAddScript(void* self, LPCWSTR javaScript, void* handler) {
  Log("view", "AddScriptToExecuteOnDocumentCreated", Json::array({Text(javaScript)}));
  if (javaScript == nullptr) return E_INVALIDARG;
  if (Self<View>(self)->dead()) return BrowserGone();
  Self<View>(self)->scripts++;
  if (handler != nullptr) {
    AddRefForeign(handler);
    Later([handler] {
      CallForeign(&ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler::Invoke, handler, S_OK,
                  L"{script-1}");
      ReleaseForeign(handler);
    });
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewExecuteScript(void* self, LPCWSTR javaScript, void* handler) {
  Log("view", "ExecuteScript", Json::array({Text(javaScript)}));
  if (javaScript == nullptr) return E_INVALIDARG;
  if (Self<View>(self)->dead()) return BrowserGone();
  if (handler != nullptr) {
    AddRefForeign(handler);
    Later([handler] {
      CallForeign(&ICoreWebView2ExecuteScriptCompletedHandler::Invoke, handler, S_OK, L"null");
      ReleaseForeign(handler);
    });
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPostJson(void* self, LPCWSTR json) {
  Log("view", "PostWebMessageAsJson", Json::array({Text(json)}));
  return Self<View>(self)->dead() ? BrowserGone() : S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPostString(void* self, LPCWSTR text) {
  Log("view", "PostWebMessageAsString", Json::array({Text(text)}));
  return Self<View>(self)->dead() ? BrowserGone() : S_OK;
}

HRESULT STDMETHODCALLTYPE ViewCanGoBack(void*, BOOL* value) {
  Log("view", "get_CanGoBack");
  if (value == nullptr) return E_POINTER;
  *value = CurrentScript().canGoBack ? TRUE : FALSE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewGoBack(void*) {
  Log("view", "GoBack");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAddFilter(void*, LPCWSTR uri, int context) {
  Log("view", "AddWebResourceRequestedFilter", Json::array({Text(uri), context}));
  if (const HRESULT failure = ScriptedFailure("AddWebResourceRequestedFilter"); FAILED(failure)) return failure;
  return uri == nullptr ? E_INVALIDARG : S_OK;
}

HRESULT STDMETHODCALLTYPE ViewRemoveFilter(void*, LPCWSTR uri, int context) {
  Log("view", "RemoveWebResourceRequestedFilter", Json::array({Text(uri), context}));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAddFilterKinds(void*, LPCWSTR uri, int context, unsigned int kinds) {
  Log("view", "AddWebResourceRequestedFilterWithRequestSourceKinds", Json::array({Text(uri), context, kinds}));
  if (const HRESULT failure = ScriptedFailure("AddWebResourceRequestedFilterWithRequestSourceKinds"); FAILED(failure)) {
    return failure;
  }
  return uri == nullptr ? E_INVALIDARG : S_OK;
}

HRESULT STDMETHODCALLTYPE ViewRemoveFilterKinds(void*, LPCWSTR uri, int context, unsigned int kinds) {
  Log("view", "RemoveWebResourceRequestedFilterWithRequestSourceKinds", Json::array({Text(uri), context, kinds}));
  return S_OK;
}

const Slot* ViewTable() {
  using I = ICoreWebView2_22;
  static const Table<kViewSlots> table =
      ViewTableWithEvents()
          .Set(&I::get_Settings, &ViewGetSettings)
          .Set(&I::get_Source, &ViewGetSource)
          .Set(&I::Navigate, &ViewNavigate)
          .Set(&I::NavigateToString, &ViewNavigateToString)
          .Set(&I::AddScriptToExecuteOnDocumentCreated, &ViewAddScript)
          .Set(&I::ExecuteScript, &ViewExecuteScript)
          .Set(&I::Reload, &ViewReload)
          .Set(&I::PostWebMessageAsJson, &ViewPostJson)
          .Set(&I::PostWebMessageAsString, &ViewPostString)
          .Set(&I::get_CanGoBack, &ViewCanGoBack)
          .Set(&I::GoBack, &ViewGoBack)
          .Set(&I::AddWebResourceRequestedFilter, &ViewAddFilter)
          .Set(&I::RemoveWebResourceRequestedFilter, &ViewRemoveFilter)
          .Set(&I::AddWebResourceRequestedFilterWithRequestSourceKinds, &ViewAddFilterKinds)
          .Set(&I::RemoveWebResourceRequestedFilterWithRequestSourceKinds, &ViewRemoveFilterKinds);
  return table.slots.data();
}

View* MakeView() {
  const Script& current = CurrentScript();
  View* view = Make<View>(ViewTable(), "view", ViewIids(current.offerView22));
  view->refusal = &ScriptedFailure;
  view->settings = MakeSettings(current.offerSettings3, current.offerSettings7);
  return view;
}

// ---------------------------------------------------------------- the controller

struct Controller : ControllerBase {
  View* view = nullptr;
  HWND page = nullptr;
  [[nodiscard]] bool dead() const { return view->dead(); }
  ~Controller() {
    if (page != nullptr && IsWindow(page)) DestroyWindow(page);
    if (view != nullptr) {
      if (currentView == view) currentView = nullptr;
      ReleaseObject(view);
    }
  }
};

HRESULT STDMETHODCALLTYPE ControllerPutVisible(void* self, BOOL visible) {
  Log("controller", "put_IsVisible", Json::array({visible}));
  if (Self<Controller>(self)->dead()) return BrowserGone();
  Self<Controller>(self)->visible = visible;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerPutBounds(void* self, RECT bounds) {
  Log("controller", "put_Bounds", RectJson(bounds));
  Controller* controller = Self<Controller>(self);
  if (controller->dead()) return BrowserGone();
  controller->bounds = bounds;
  if (controller->page != nullptr) {
    MoveWindow(controller->page, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerMoveFocus(void* self, int reason) {
  Log("controller", "MoveFocus", Json::array({reason}));
  return Self<Controller>(self)->dead() ? BrowserGone() : S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerNotifyMoved(void*) {
  Log("controller", "NotifyParentWindowPositionChanged");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerClose(void* self) {
  Controller* controller = Self<Controller>(self);
  Log("controller", "Close");
  controller->closed = true;
  controller->view->closed = true;
  if (currentView == controller->view) currentView = nullptr;
  if (controller->page != nullptr) {
    if (controller->view != nullptr) controller->view->page = nullptr;
    DestroyWindow(controller->page);
    controller->page = nullptr;
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerGetView(void* self, void** view) {
  Controller* controller = Self<Controller>(self);
  Log("controller", "get_CoreWebView2");
  if (view == nullptr) return E_POINTER;
  if (controller->closed) {
    *view = nullptr;
    return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  }
  AddRefObject(controller->view);
  *view = controller->view;
  return S_OK;
}

// The real runtime accepts only fully transparent or fully opaque colours.
HRESULT STDMETHODCALLTYPE ControllerPutBackground(void* self, COREWEBVIEW2_COLOR color) {
  Log("controller", "put_DefaultBackgroundColor", Json::array({color.A, color.R, color.G, color.B}));
  if (color.A != 0 && color.A != 255) return E_INVALIDARG;
  if (Self<Controller>(self)->dead()) return BrowserGone();
  Self<Controller>(self)->background = color;
  return S_OK;
}

const Slot* ControllerTable() {
  using I = ICoreWebView2Controller4;
  static const Table<kControllerSlots> table = ControllerTableWithProperties()
                                                   .Set(&I::put_IsVisible, &ControllerPutVisible)
                                                   .Set(&I::put_Bounds, &ControllerPutBounds)
                                                   .Set(&I::MoveFocus, &ControllerMoveFocus)
                                                   .Set(&I::NotifyParentWindowPositionChanged, &ControllerNotifyMoved)
                                                   .Set(&I::Close, &ControllerClose)
                                                   .Set(&I::get_CoreWebView2, &ControllerGetView)
                                                   .Set(&I::put_DefaultBackgroundColor, &ControllerPutBackground);
  return table.slots.data();
}

Controller* MakeController(HWND parent) {
  const Script& current = CurrentScript();
  Controller* controller = Make<Controller>(ControllerTable(), "controller",
                                            ControllerIids(current.offerController2, current.offerController4));
  controller->parent = parent;
  controller->view = MakeView();
  controller->page = MakePage(parent);
  controller->view->page = controller->page;
  currentView = controller->view;
  return controller;
}

// ---------------------------------------------------------------- the environment

struct Environment : Object {
  int generation = browserGeneration;
};

HRESULT STDMETHODCALLTYPE EnvironmentCreateController(void* self, HWND parent, void* handler) {
  const Script& current = CurrentScript();
  Log("environment", "CreateCoreWebView2Controller", Json::array({IsWindow(parent) != FALSE}));
  if (handler == nullptr) return E_POINTER;
  if (Self<Environment>(self)->generation != browserGeneration) return BrowserGone();
  if (FAILED(current.controllerSyncFailure)) return current.controllerSyncFailure;
  AddRefForeign(handler);
  const HRESULT result = current.controllerResult;
  Later([handler, parent, result] {
    if (FAILED(result)) {
      Log("environment", "controller_completed", Json::array({HexResult(result)}));
      CallForeign(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke, handler, result, nullptr);
    } else {
      Controller* controller = MakeController(parent);
      Log("environment", "controller_completed", Json::array({HexResult(S_OK)}));
      CallForeign(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke, handler, S_OK, controller);
      ReleaseObject(controller);
    }
    ReleaseForeign(handler);
  });
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EnvironmentVersion(void*, LPWSTR* version) {
  Log("environment", "get_BrowserVersionString");
  return CopyOut(CurrentScript().version, version);
}

const Slot* EnvironmentTable() {
  static const Table<8> table = EnvironmentTableWith(&EnvironmentCreateController, &EnvironmentVersion);
  return table.slots.data();
}

// ---------------------------------------------------------------- raising events

HRESULT RaiseNavigation(const std::wstring& uri, int* cancel) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeNavigationArgs();
  args->uri = uri;
  Raise<kNavigation>(currentView, args);
  if (cancel != nullptr) *cancel = args->cancel != FALSE ? 1 : 0;
  Log("outcome", "navigation", Json::array({Utf8(uri.c_str())}), {{"cancel", args->cancel != FALSE}});
  ReleaseObject(args);
  return S_OK;
}

HRESULT RaiseMessage(const std::wstring& json, bool isString) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeMessageArgs();
  args->uri = currentView->source;
  args->message = json;
  args->messageIsString = isString;
  Raise<kMessage>(currentView, args);
  Log("outcome", "message", Json::array({Utf8(json.c_str()), isString}));
  ReleaseObject(args);
  return S_OK;
}

// From the current page, or from the frame at uri when one is given.
HRESULT RaisePermission(int kind, int* state, const std::wstring& uri) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakePermissionArgs();
  args->uri = uri.empty() ? currentView->source : uri;
  args->permissionKind = kind;
  Raise<kPermission>(currentView, args);
  if (state != nullptr) *state = args->permissionState;
  Log("outcome", "permission", Json::array({kind, Utf8(args->uri.c_str())}), {{"state", args->permissionState}});
  ReleaseObject(args);
  return S_OK;
}

HRESULT RaiseNewWindow(const std::wstring& uri, int* handled) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeNewWindowArgs();
  args->uri = uri;
  Raise<kNewWindow>(currentView, args);
  if (handled != nullptr) *handled = args->handled != FALSE ? 1 : 0;
  Log("outcome", "new_window", Json::array({Utf8(uri.c_str())}), {{"handled", args->handled != FALSE}});
  ReleaseObject(args);
  return S_OK;
}

HRESULT RaiseDownload(const std::wstring& resultFilePath, const std::wstring& uri, const std::wstring& mimeType,
                      int* cancel) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeDownloadArgs(resultFilePath, uri, mimeType);
  Raise<kDownload>(currentView, args);
  if (cancel != nullptr) *cancel = args->cancel != FALSE ? 1 : 0;
  Log("outcome", "download", Json::array({Utf8(resultFilePath.c_str()), Utf8(uri.c_str())}),
      {{"cancel", args->cancel != FALSE}});
  ReleaseObject(args);
  return S_OK;
}

// A browser process that exits takes every object made so far with it, after
// their views were told.
HRESULT RaiseProcessFailed(const ProcessFailure& failure) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeProcessFailedArgs(failure);
  Raise<kProcessFailed>(currentView, args);
  LogProcessFailed(failure);
  ReleaseObject(args);
  if (failure.kind == 0) browserGeneration++;  // the browser process itself
  return S_OK;
}

// Returns the outcome as JSON: the headers the player set, the request's
// final headers and the response it put (null when none).
HRESULT RaiseResource(const std::wstring& uri, const Json& headers, int context, Json& outcome) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeResourceArgs();
  args->resourceContext = context;
  args->request = MakeRequest(uri);
  if (headers.is_object()) {
    for (const auto& [name, value] : headers.items()) {
      args->request->headers->entries.emplace_back(Wide(name),
                                                   Wide(value.is_string() ? value.get<std::string>() : value.dump()));
    }
  }
  Raise<kResource>(currentView, args);
  outcome = {{"headers_set", args->request->headers->set},
             {"request_headers", args->request->headers->AsJson()},
             {"response", args->response != nullptr ? args->response->AsJson() : Json(nullptr)}};
  Log("outcome", "resource", Json::array({Utf8(uri.c_str())}), outcome);
  ReleaseObject(args);
  return S_OK;
}

// ---------------------------------------------------------------- the command file

size_t commandOffset = 0;

void RunCommand(const Json& command) {
  const std::string kind = command.value("raise", "");
  const std::wstring uri = Wide(command.value("uri", ""));
  HRESULT hr = E_INVALIDARG;
  if (kind == "navigation") {
    hr = RaiseNavigation(uri, nullptr);
  } else if (kind == "message") {
    if (command.contains("string") && command["string"].is_string()) {
      hr = RaiseMessage(Wide(Json(command["string"].get<std::string>()).dump()), true);
    } else if (command.contains("json")) {
      const Json& json = command["json"];
      hr = RaiseMessage(Wide(json.is_string() ? json.get<std::string>() : json.dump()), false);
    }
  } else if (kind == "permission") {
    hr = RaisePermission(command.value("kind", 0), nullptr, uri);
  } else if (kind == "new_window") {
    hr = RaiseNewWindow(uri, nullptr);
  } else if (kind == "download") {
    hr = RaiseDownload(Wide(command.value("path", "")), uri, Wide(command.value("mime", "")), nullptr);
  } else if (kind == "resource") {
    Json outcome;
    hr = RaiseResource(uri, command.value("headers", Json::object()), command.value("context", 0), outcome);
  } else if (kind == "process_failed") {
    ProcessFailure failure;
    failure.kind = command.value("kind", 1);
    failure.reason = command.value("reason", 0);
    // The real engine's exit code for a renderer that hangs is STILL_ACTIVE.
    failure.exitCode = command.value("exit_code", failure.kind == 2 ? 259 : 0);
    failure.description = command.value("description", "");
    hr = RaiseProcessFailed(failure);
  } else if (kind == "navigation_completed") {
    NavigationOutcome outcome;
    outcome.success = command.value("success", true);
    outcome.webErrorStatus = command.value("web_error_status", 0);
    outcome.httpStatusCode = command.value("http_status", outcome.success ? 200 : 0);
    hr = RaiseNavigationCompleted(currentView, outcome);
  }
  Log("command", kind.c_str(), Json::array({command}), {{"hr", HexResult(hr)}});
}

// Reads the lines added to the command file since the last poll.
void PollCommands() {
  const std::wstring path = EnvironmentValue(L"MIRAVELL_RUNTIME_COMMANDS");
  if (path.empty()) return;
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) return;
  file.seekg(0, std::ios::end);
  const auto size = static_cast<size_t>(file.tellg());
  if (size <= commandOffset) return;
  file.seekg(static_cast<std::streamoff>(commandOffset));
  std::string fresh(size - commandOffset, '\0');
  file.read(fresh.data(), static_cast<std::streamsize>(fresh.size()));
  const size_t lastNewline = fresh.rfind('\n');
  if (lastNewline == std::string::npos) return;  // wait for the line to be finished
  commandOffset += lastNewline + 1;
  std::istringstream lines(fresh.substr(0, lastNewline + 1));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    const Json command = Json::parse(line, nullptr, false);
    if (!command.is_object()) {
      Log("command", "unreadable", Json::array({line}));
      continue;
    }
    RunCommand(command);
  }
}

}  // namespace

// ---------------------------------------------------------------- exports

extern "C" {

HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(BOOL first, int runtimeType,
                                                                      PCWSTR userDataFolder, IUnknown* options,
                                                                      void* handler) {
  try {
    const Script& current = CurrentScript();
    EnsureScriptedPostWindow();
    LogEnvironmentCall(first, runtimeType, userDataFolder, options);
    if (handler == nullptr) return E_POINTER;
    if (current.environmentCallResult != S_OK) return current.environmentCallResult;
    const size_t index = environmentCreations++;
    const HRESULT result = index < current.environmentResults.size() ? current.environmentResults[index] : S_OK;
    if (current.environmentDelayMs < 0) return S_OK;  // a runtime that never answers
    AddRefForeign(handler);
    LaterAfter(current.environmentDelayMs, [handler, result] {
      Log("runtime", "environment_completed", Json::array({HexResult(result)}));
      if (FAILED(result)) {
        CallForeign(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke, handler, result, nullptr);
      } else {
        Environment* environment =
            Make<Environment>(EnvironmentTable(), "environment", {__uuidof(ICoreWebView2Environment)});
        // The last reference going is what would let a real engine end.
        environment->destroy = [](Object* object) {
          Log("environment", "released");
          delete static_cast<Environment*>(object);
        };
        CallForeign(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke, handler, S_OK, environment);
        ReleaseObject(environment);
      }
      ReleaseForeign(handler);
    });
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

// A test that unloads the runtime must not leave a window whose procedure is gone.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) postWindowSetup = {L"MiravellScriptedRuntimePost", &OnPostWindowMessage};
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && postWindow != nullptr) {
    DestroyPostWindow();
    UnregisterClassW(kPageClass, ModuleHandle());
  }
  return TRUE;
}

// Window procedures and posted work live in this module, so it stays loaded.
HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return S_FALSE; }

HRESULT ScriptedRuntime_RaiseNavigationStarting(const wchar_t* uri, int* cancel) {
  try {
    return RaiseNavigation(uri != nullptr ? uri : L"", cancel);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaiseWebMessage(const wchar_t* json, int isString) {
  try {
    return RaiseMessage(json != nullptr ? json : L"null", isString != 0);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaisePermission(const wchar_t* uri, int kind, int* state) {
  try {
    return RaisePermission(kind, state, uri != nullptr ? uri : L"");
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaiseNewWindow(const wchar_t* uri, int* handled) {
  try {
    return RaiseNewWindow(uri != nullptr ? uri : L"", handled);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaiseDownload(const wchar_t* resultFilePath, const wchar_t* uri, const wchar_t* mimeType,
                                      int* cancel) {
  try {
    return RaiseDownload(resultFilePath != nullptr ? resultFilePath : L"", uri != nullptr ? uri : L"",
                         mimeType != nullptr ? mimeType : L"", cancel);
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaiseResourceRequest(const wchar_t* uri, const wchar_t* headersJson, wchar_t* result,
                                             int resultChars) {
  try {
    const Json headers = headersJson != nullptr ? Json::parse(Utf8(headersJson), nullptr, false) : Json::object();
    Json outcome;
    const HRESULT hr = RaiseResource(uri != nullptr ? uri : L"", headers, 0, outcome);
    if (FAILED(hr)) return hr;
    const std::wstring text = Wide(outcome.dump());
    if (result == nullptr || resultChars <= 0) return S_OK;
    if (text.size() + 1 > static_cast<size_t>(resultChars)) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    memcpy(result, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaiseProcessFailed(int kind, int reason, int exitCode) {
  try {
    return RaiseProcessFailed({kind, reason, exitCode, {}});
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT ScriptedRuntime_RaiseNavigationCompleted(int success, int webErrorStatus, int httpStatusCode) {
  try {
    return RaiseNavigationCompleted(currentView, {0, success != 0, webErrorStatus, httpStatusCode});
  } catch (...) {
    return E_FAIL;
  }
}

// Runs the lines of the command file now instead of waiting for the timer.
HRESULT ScriptedRuntime_PollCommands() {
  try {
    PollCommands();
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

}  // extern "C"
