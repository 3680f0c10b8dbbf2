// The browser runtime's client DLL for development machines, backed by
// Debian's Chromium (never shipped): the player finds and starts it through
// its own loader, as it would the real runtime, and gets the same objects
// the scripted runtime of the tests hands out (testbed/runtime-objects), here
// over a real page. One Chromium per environment, one page target per
// controller, painted into a child window of the host's from the page's
// screencast.
//
// Calls are written to MIRAVELL_RUNTIME_LOG in the scripted runtime's format
// when it is set, with the creation and first-frame times.
#include <windows.h>
#include <objbase.h>

#include <nlohmann/json.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/Handles.h"
#include "testbed/chromium-runtime/ChromiumPage.h"
#include "testbed/chromium-runtime/PageSurface.h"
#include "testbed/runtime-objects/RuntimeObjects.h"

namespace {

using namespace runtime_objects;
using chromium_runtime::Engine;
using chromium_runtime::HeaderList;
using chromium_runtime::NavigationEnd;
using chromium_runtime::NavigationStart;
using chromium_runtime::Page;
using chromium_runtime::PageEvents;
using chromium_runtime::PageSurface;
using chromium_runtime::PermissionRequest;
using chromium_runtime::ProcessExit;
using chromium_runtime::ResourceDecision;
using chromium_runtime::ResourceRequest;
using chromium_runtime::ResourceResponse;
using Clock = std::chrono::steady_clock;

// Wakes the post window when an engine has something to pump.
constexpr UINT kPumpEngines = WM_APP + 18;

bool OnPostWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_TIMER && wParam == Engine::kWatchTimer) {
    Engine::WatchAll();
    return true;
  }
  if (message != kPumpEngines) return false;
  Engine::PumpAll();
  return true;
}

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The wall clock, on the timing lines, so that a Unix-side benchmark can put
// them on its own clock (Wine's is the machine's).
long long UnixMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// "*" any run of characters, "?" any one; letters match either case.
bool WildcardMatch(std::wstring_view pattern, std::wstring_view text) {
  std::size_t p = 0, t = 0, star = std::wstring_view::npos, resume = 0;
  const auto same = [](wchar_t a, wchar_t b) { return towlower(a) == towlower(b); };
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || (pattern[p] != L'*' && same(pattern[p], text[t])))) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      star = p++;
      resume = t;
    } else if (star != std::wstring_view::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

std::string ReadWhole(IStream* stream) {
  std::string body;
  if (stream == nullptr) return body;
  std::array<char, 65536> chunk{};
  for (;;) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(chunk.data(), static_cast<ULONG>(chunk.size()), &read);
    body.append(chunk.data(), read);
    if (FAILED(hr) || hr == S_FALSE || read == 0) break;
  }
  return body;
}

HeaderList ToUtf8(const std::vector<std::pair<std::wstring, std::wstring>>& entries) {
  HeaderList list;
  for (const auto& [name, value] : entries) list.emplace_back(Utf8(name.c_str()), Utf8(value.c_str()));
  return list;
}

// ---------------------------------------------------------------- the view

struct Filter {
  std::wstring uri;
  int context;
};

struct View : ViewBase {
  std::shared_ptr<Page> page;
  ObjectPtr<Settings> settings;
  std::vector<Filter> filters;
  ~View() {
    if (settings) settings->changed = nullptr;  // the player may hold the settings longer
  }
};

bool RaiseNavigation(View* view, const NavigationStart& start) {
  const ObjectPtr<Args> owned(MakeNavigationArgs());
  Args* args = owned.get();
  args->uri = Wide(start.uri);
  args->userInitiated = start.userInitiated ? TRUE : FALSE;
  args->redirected = start.redirected ? TRUE : FALSE;
  args->navigationId = start.id;
  Raise<kNavigation>(view, args);
  Log("outcome", "navigation", Json::array({start.uri}), {{"cancel", args->cancel != FALSE}});
  return args->cancel != FALSE;
}

void RaiseMessage(View* view, const std::string& json, bool isString, const std::string& source) {
  const ObjectPtr<Args> owned(MakeMessageArgs());
  Args* args = owned.get();
  args->uri = Wide(source);
  args->message = Wide(json);
  args->messageIsString = isString;
  Raise<kMessage>(view, args);
  Log("outcome", "message", Json::array({json, isString}));
}

void RaiseNewWindow(View* view, const std::string& uri, bool userInitiated) {
  const ObjectPtr<Args> owned(MakeNewWindowArgs());
  Args* args = owned.get();
  args->uri = Wide(uri);
  args->userInitiated = userInitiated ? TRUE : FALSE;
  Raise<kNewWindow>(view, args);
  Log("outcome", "new_window", Json::array({uri}), {{"handled", args->handled != FALSE}});
}

// The state the handlers left: the engine's default unless one decided.
int RaisePermission(View* view, const PermissionRequest& request) {
  const ObjectPtr<Args> owned(MakePermissionArgs());
  Args* args = owned.get();
  args->uri = Wide(request.uri);
  args->permissionKind = request.kind;
  args->userInitiated = request.userInitiated ? TRUE : FALSE;
  Raise<kPermission>(view, args);
  Log("outcome", "permission", Json::array({request.uri, request.kind, request.userInitiated}),
      {{"state", args->permissionState}});
  return args->permissionState;
}

void RaiseNavigationCompleted(View* view, const NavigationEnd& end) {
  const NavigationOutcome outcome{end.id, end.success, end.webErrorStatus, end.httpStatusCode};
  const ObjectPtr<Args> args(MakeNavigationCompletedArgs(outcome));
  Raise<kNavigationCompleted>(view, args.get());
  LogNavigationCompleted(view->page->Source(), outcome);
}

void RaiseProcessFailed(View* view, const ProcessExit& exit) {
  const ProcessFailure failure{exit.kind, exit.reason, exit.exitCode, {}};
  const ObjectPtr<Args> args(MakeProcessFailedArgs(failure));
  Raise<kProcessFailed>(view, args.get());
  LogProcessFailed(failure);
}

bool WantsResource(const View* view, const std::string& uri, int context) {
  const std::wstring wide = Wide(uri);
  for (const Filter& filter : view->filters) {
    if ((filter.context == 0 || filter.context == context) && WildcardMatch(filter.uri, wide)) return true;
  }
  return false;
}

ResourceDecision RaiseResource(View* view, const ResourceRequest& request) {
  const ObjectPtr<Args> owned(MakeResourceArgs());
  Args* args = owned.get();
  args->resourceContext = request.context;
  args->request = MakeRequest(Wide(request.uri));
  args->request->method = Wide(request.method);
  for (const auto& [name, value] : request.headers)
    args->request->headers->entries.emplace_back(Wide(name), Wide(value));
  Raise<kResource>(view, args);
  ResourceDecision decision;
  if (args->response != nullptr) {
    const Response& response = *args->response;
    decision.response = ResourceResponse{response.status, Utf8(response.reason.c_str()),
                                         ToUtf8(response.headers->entries), ReadWhole(response.content.Get())};
  } else if (!args->request->headers->set.empty()) {
    decision.headers = ToUtf8(args->request->headers->entries);
  }
  Log("outcome", "resource", Json::array({request.uri}),
      {{"headers_set", args->request->headers->set},
       {"response", args->response != nullptr ? args->response->AsJson() : Json(nullptr)}});
  return decision;
}

HRESULT Closed() { return HRESULT_FROM_WIN32(ERROR_INVALID_STATE); }

HRESULT STDMETHODCALLTYPE ViewGetSettings(void* self, void** settings) {
  if (settings == nullptr) return E_POINTER;
  View* view = Self<View>(self);
  *settings = Share(view->settings.get()).release();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewGetSource(void* self, LPWSTR* uri) {
  return CopyOut(Wide(Self<View>(self)->page->Source()), uri);
}

HRESULT STDMETHODCALLTYPE ViewNavigate(void* self, LPCWSTR uri) {
  Log("view", "Navigate", Json::array({Text(uri)}));
  if (uri == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  if (view->page->closed()) return Closed();
  view->page->Navigate(Utf8(uri));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewNavigateToString(void* self, LPCWSTR html) {
  Log("view", "NavigateToString", Json::array({html != nullptr ? static_cast<int>(wcslen(html)) : 0}));
  if (html == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  if (view->page->closed()) return Closed();
  view->page->NavigateToString(Utf8(html));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAddScript(void* self, LPCWSTR javaScript, void* handler) {
  Log("view", "AddScriptToExecuteOnDocumentCreated", Json::array({Text(javaScript)}));
  if (javaScript == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  if (view->page->closed()) return Closed();
  view->page->AddScript(Utf8(javaScript), [held = ForeignRef(handler)](HRESULT hr, const std::string& id) {
    if (held) {
      CallForeign(&ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler::Invoke, held.get(), hr,
                  Wide(id).c_str());
    }
  });
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewRemoveScript(void* self, LPCWSTR id) {
  Log("view", "RemoveScriptToExecuteOnDocumentCreated", Json::array({Text(id)}));
  if (id == nullptr) return E_INVALIDARG;
  if (Self<View>(self)->page->closed()) return Closed();
  Self<View>(self)->page->RemoveScript(Utf8(id));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewExecuteScript(void* self, LPCWSTR javaScript, void* handler) {
  Log("view", "ExecuteScript", Json::array({Text(javaScript)}));
  if (javaScript == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  if (view->page->closed()) return Closed();
  view->page->ExecuteScript(Utf8(javaScript), [held = ForeignRef(handler)](HRESULT hr, const std::string& json) {
    if (held) CallForeign(&ICoreWebView2ExecuteScriptCompletedHandler::Invoke, held.get(), hr, Wide(json).c_str());
  });
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewReload(void* self) {
  Log("view", "Reload");
  if (Self<View>(self)->page->closed()) return Closed();
  Self<View>(self)->page->Reload();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPostJson(void* self, LPCWSTR json) {
  Log("view", "PostWebMessageAsJson", Json::array({Text(json)}));
  if (json == nullptr) return E_INVALIDARG;
  if (Json::parse(Utf8(json), nullptr, false).is_discarded()) return E_INVALIDARG;
  if (Self<View>(self)->page->closed()) return Closed();
  Self<View>(self)->page->PostMessageJson(Utf8(json));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPostString(void* self, LPCWSTR text) {
  Log("view", "PostWebMessageAsString", Json::array({Text(text)}));
  if (text == nullptr) return E_INVALIDARG;
  if (Self<View>(self)->page->closed()) return Closed();
  Self<View>(self)->page->PostMessageJson(Json(Utf8(text)).dump());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewProcessId(void*, UINT32* id) {
  if (id == nullptr) return E_POINTER;
  *id = 0;  // a Unix process: no Windows process id to give
  return S_OK;
}

template <int Step>
HRESULT STDMETHODCALLTYPE ViewCanGo(void* self, BOOL* value) {
  Log("view", Step < 0 ? "get_CanGoBack" : "get_CanGoForward");
  if (value == nullptr) return E_POINTER;
  *value = Self<View>(self)->page->CanGo(Step) ? TRUE : FALSE;
  return S_OK;
}

template <int Step>
HRESULT STDMETHODCALLTYPE ViewGo(void* self) {
  Log("view", Step < 0 ? "GoBack" : "GoForward");
  if (Self<View>(self)->page->closed()) return Closed();
  Self<View>(self)->page->Go(Step);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewStop(void* self) {
  if (Self<View>(self)->page->closed()) return Closed();
  Self<View>(self)->page->Stop();
  return S_OK;
}

HRESULT AddFilter(View* view, LPCWSTR uri, int context) {
  if (uri == nullptr) return E_INVALIDARG;
  view->filters.push_back({uri, context});
  view->page->InterceptAllRequests(true);
  return S_OK;
}

HRESULT RemoveFilter(View* view, LPCWSTR uri, int context) {
  if (uri == nullptr) return E_INVALIDARG;
  std::erase_if(view->filters, [&](const Filter& filter) { return filter.uri == uri && filter.context == context; });
  view->page->InterceptAllRequests(!view->filters.empty());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAddFilter(void* self, LPCWSTR uri, int context) {
  Log("view", "AddWebResourceRequestedFilter", Json::array({Text(uri), context}));
  return AddFilter(Self<View>(self), uri, context);
}

HRESULT STDMETHODCALLTYPE ViewRemoveFilter(void* self, LPCWSTR uri, int context) {
  Log("view", "RemoveWebResourceRequestedFilter", Json::array({Text(uri), context}));
  return RemoveFilter(Self<View>(self), uri, context);
}

// Every request a page makes is a document's here (no worker has requests
// of its own that reach this page's interception), so the kinds add nothing.
HRESULT STDMETHODCALLTYPE ViewAddFilterKinds(void* self, LPCWSTR uri, int context, unsigned int kinds) {
  Log("view", "AddWebResourceRequestedFilterWithRequestSourceKinds", Json::array({Text(uri), context, kinds}));
  return AddFilter(Self<View>(self), uri, context);
}

HRESULT STDMETHODCALLTYPE ViewRemoveFilterKinds(void* self, LPCWSTR uri, int context, unsigned int kinds) {
  Log("view", "RemoveWebResourceRequestedFilterWithRequestSourceKinds", Json::array({Text(uri), context, kinds}));
  return RemoveFilter(Self<View>(self), uri, context);
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
          .Set(&I::RemoveScriptToExecuteOnDocumentCreated, &ViewRemoveScript)
          .Set(&I::ExecuteScript, &ViewExecuteScript)
          .Set(&I::Reload, &ViewReload)
          .Set(&I::PostWebMessageAsJson, &ViewPostJson)
          .Set(&I::PostWebMessageAsString, &ViewPostString)
          .Set(&I::get_BrowserProcessId, &ViewProcessId)
          .Set(&I::get_CanGoBack, &ViewCanGo<-1>)
          .Set(&I::get_CanGoForward, &ViewCanGo<1>)
          .Set(&I::GoBack, &ViewGo<-1>)
          .Set(&I::GoForward, &ViewGo<1>)
          .Set(&I::Stop, &ViewStop)
          .Set(&I::AddWebResourceRequestedFilter, &ViewAddFilter)
          .Set(&I::RemoveWebResourceRequestedFilter, &ViewRemoveFilter)
          .Set(&I::AddWebResourceRequestedFilterWithRequestSourceKinds, &ViewAddFilterKinds)
          .Set(&I::RemoveWebResourceRequestedFilterWithRequestSourceKinds, &ViewRemoveFilterKinds);
  return table.slots.data();
}

// What CDP can apply of the settings; the rest has nothing to act on in a
// headless browser (no context menu, zoom, status bar, developer tools or
// browser keys exist there) and is only kept.
void ApplySetting(View* view, size_t index) {
  const Settings& settings = *view->settings;
  if (index == kScriptEnabled) view->page->SetScriptEnabled(settings.flags[kScriptEnabled] != FALSE);
  if (index == kWebMessageEnabled) view->page->SetWebMessageEnabled(settings.flags[kWebMessageEnabled] != FALSE);
  if (index == kUserAgent) view->page->SetUserAgent(Utf8(settings.userAgent.c_str()));
}

View* MakeView(const std::shared_ptr<Engine>& engine, const std::shared_ptr<Page>& page) {
  View* view = Make<View>(ViewTable(), "view", ViewIids(true));
  view->page = page;
  view->settings.reset(MakeSettings(true));
  view->settings->userAgent = Wide(engine->userAgent());
  view->settings->changed = [view](size_t index) { ApplySetting(view, index); };
  return view;
}

// ---------------------------------------------------------------- the controller

struct Controller : ControllerBase {
  std::shared_ptr<Engine> engine;
  std::shared_ptr<Page> page;
  std::unique_ptr<PageSurface> surface;
  ObjectPtr<View> view;
  Clock::time_point created = Clock::now();
  bool framed = false;
  bool contentShown = false;

  void Close() {
    if (closed) return;
    closed = true;
    page->Close();
    surface.reset();
  }
  // Closed by the host, or its browser has gone: only Close and the getters still answer.
  [[nodiscard]] bool dead() const { return closed || page->closed(); }
  ~Controller() { Close(); }
};

HRESULT STDMETHODCALLTYPE ControllerPutVisible(void* self, BOOL visible) {
  Log("controller", "put_IsVisible", Json::array({visible}));
  Controller* controller = Self<Controller>(self);
  if (controller->dead()) return Closed();
  controller->visible = visible;
  controller->surface->Show(visible != FALSE);
  controller->page->SetVisible(visible != FALSE);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerPutBounds(void* self, RECT bounds) {
  Log("controller", "put_Bounds", RectJson(bounds));
  Controller* controller = Self<Controller>(self);
  if (controller->dead()) return Closed();
  controller->bounds = bounds;
  controller->surface->Move(bounds);
  controller->page->Resize(bounds.right - bounds.left, bounds.bottom - bounds.top);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerGetZoom(void*, double* zoom) {
  if (zoom == nullptr) return E_POINTER;
  *zoom = 1.0;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerMoveFocus(void* self, int reason) {
  Log("controller", "MoveFocus", Json::array({reason}));
  Controller* controller = Self<Controller>(self);
  if (controller->dead()) return Closed();
  ::SetFocus(controller->surface->window());
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerGetParent(void* self, HWND* parent) {
  if (parent == nullptr) return E_POINTER;
  *parent = Self<Controller>(self)->parent;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerPutParent(void* self, HWND parent) {
  Controller* controller = Self<Controller>(self);
  if (controller->dead()) return Closed();
  if (!::IsWindow(parent)) return E_INVALIDARG;
  controller->parent = parent;
  ::SetParent(controller->surface->window(), parent);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerNotifyMoved(void*) { return S_OK; }

HRESULT STDMETHODCALLTYPE ControllerClose(void* self) {
  Log("controller", "Close");
  Self<Controller>(self)->Close();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerGetView(void* self, void** view) {
  Controller* controller = Self<Controller>(self);
  if (view == nullptr) return E_POINTER;
  *view = nullptr;
  if (controller->closed) return Closed();
  *view = Share(controller->view.get()).release();
  return S_OK;
}

// The real runtime accepts only fully transparent or fully opaque colours.
HRESULT STDMETHODCALLTYPE ControllerPutBackground(void* self, COREWEBVIEW2_COLOR color) {
  Log("controller", "put_DefaultBackgroundColor", Json::array({color.A, color.R, color.G, color.B}));
  if (color.A != 0 && color.A != 255) return E_INVALIDARG;
  Controller* controller = Self<Controller>(self);
  if (controller->dead()) return Closed();
  controller->background = color;
  controller->surface->SetBackground(RGB(color.R, color.G, color.B));
  controller->page->SetBackground(color.R, color.G, color.B, color.A);
  return S_OK;
}

const Slot* ControllerTable() {
  using I = ICoreWebView2Controller4;
  static const Table<kControllerSlots> table = ControllerTableWithProperties()
                                                   .Set(&I::put_IsVisible, &ControllerPutVisible)
                                                   .Set(&I::put_Bounds, &ControllerPutBounds)
                                                   .Set(&I::get_ZoomFactor, &ControllerGetZoom)
                                                   .Set(&I::MoveFocus, &ControllerMoveFocus)
                                                   .Set(&I::get_ParentWindow, &ControllerGetParent)
                                                   .Set(&I::put_ParentWindow, &ControllerPutParent)
                                                   .Set(&I::NotifyParentWindowPositionChanged, &ControllerNotifyMoved)
                                                   .Set(&I::Close, &ControllerClose)
                                                   .Set(&I::get_CoreWebView2, &ControllerGetView)
                                                   .Set(&I::put_DefaultBackgroundColor, &ControllerPutBackground);
  return table.slots.data();
}

void ShowFrame(Controller* controller, const std::vector<std::uint8_t>& image) {
  if (controller->closed || !controller->surface->ShowFrame(image) || controller->framed) return;
  controller->framed = true;
  Log("controller", "first_frame", Json::array(),
      {{"ms", MillisecondsSince(controller->created)}, {"unix_ms", UnixMilliseconds()}});
}

void ShowContent(Controller* controller, const std::string& uri) {
  const Json times = {{"ms", MillisecondsSince(controller->created)}, {"unix_ms", UnixMilliseconds()}};
  if (!controller->contentShown) {
    controller->contentShown = true;
    Log("controller", "first_content_frame", Json::array({uri}), times);
  }
  // Every load's, for what comes back after a crash or a retry.
  Log("controller", "content_frame", Json::array({uri}), times);
}

ObjectPtr<Controller> MakeController(const std::shared_ptr<Engine>& engine, const std::shared_ptr<Page>& page,
                                     HWND parent) {
  ObjectPtr<Controller> made(Make<Controller>(ControllerTable(), "controller", ControllerIids(true, true)));
  Controller* controller = made.get();
  controller->engine = engine;
  controller->page = page;
  controller->parent = parent;
  controller->surface = std::make_unique<PageSurface>(parent);
  controller->view.reset(MakeView(engine, page));
  View* view = controller->view.get();
  // The page outlives neither: Close drops these before either goes.
  PageEvents events;
  events.navigationStarting = [view](const NavigationStart& start) { return RaiseNavigation(view, start); };
  events.message = [view](const std::string& json, bool isString, const std::string& source) {
    RaiseMessage(view, json, isString, source);
  };
  events.newWindow = [view](const std::string& uri, bool userInitiated) { RaiseNewWindow(view, uri, userInitiated); };
  events.wantsResource = [view](const std::string& uri, int context) { return WantsResource(view, uri, context); };
  events.resource = [view](const ResourceRequest& request) { return RaiseResource(view, request); };
  events.frame = [controller](const std::vector<std::uint8_t>& image) { ShowFrame(controller, image); };
  events.contentShown = [controller](const std::string& uri) { ShowContent(controller, uri); };
  events.permission = [view](const PermissionRequest& request) { return RaisePermission(view, request); };
  events.navigationCompleted = [view](const NavigationEnd& end) { RaiseNavigationCompleted(view, end); };
  events.processFailed = [view](const ProcessExit& exit) { RaiseProcessFailed(view, exit); };
  events.slowestAnswer = [](std::chrono::milliseconds waited) {
    Log("controller", "slowest_answer", Json::array(), {{"ms", waited.count()}});
  };
  controller->surface->SetInput([weak = std::weak_ptr<Page>(page)](UINT message, WPARAM wParam, LPARAM lParam) {
    if (const std::shared_ptr<Page> target = weak.lock()) target->Input(message, wParam, lParam);
  });
  controller->surface->SetQuiet([weak = std::weak_ptr<Page>(page)] {
    if (const std::shared_ptr<Page> target = weak.lock()) target->Settle();
  });
  page->SetEvents(std::move(events));
  engine->Register(page);
  return made;
}

// ---------------------------------------------------------------- the environment

struct Environment : Object {
  std::shared_ptr<Engine> engine;
};

HRESULT STDMETHODCALLTYPE EnvironmentCreateController(void* self, HWND parent, void* handler) {
  Log("environment", "CreateCoreWebView2Controller", Json::array({IsWindow(parent) != FALSE}),
      {{"unix_ms", UnixMilliseconds()}});
  if (handler == nullptr) return E_POINTER;
  if (!::IsWindow(parent)) return HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
  const std::shared_ptr<Engine> engine = Self<Environment>(self)->engine;
  if (engine->gone()) return Closed();
  const Clock::time_point asked = Clock::now();
  // The page is opened away from the caller's thread, which keeps pumping
  // the engine meanwhile; the answer comes back to it.
  std::thread([engine, parent, asked, held = ForeignRef(handler)] {
    std::shared_ptr<Page> page;
    HRESULT result = S_OK;
    std::string why;
    try {
      page = Page::Open(engine);
    } catch (const chromium_runtime::StartError& error) {
      result = error.code();
      why = error.what();
    } catch (...) {
      result = E_FAIL;
    }
    PostTask([engine, page, parent, asked, held, result, why] {
      if (FAILED(result) || !::IsWindow(parent)) {
        const HRESULT failure = FAILED(result) ? result : HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
        Log("environment", "controller_completed", Json::array({HexResult(failure)}), {{"why", why}});
        CallForeign(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke, held.get(), failure, nullptr);
        return;
      }
      const ObjectPtr<Controller> controller = MakeController(engine, page, parent);
      controller->created = asked;
      Log("environment", "controller_completed", Json::array({HexResult(S_OK)}),
          {{"ms", MillisecondsSince(asked)}, {"unix_ms", UnixMilliseconds()}});
      CallForeign(&ICoreWebView2CreateCoreWebView2ControllerCompletedHandler::Invoke, held.get(), S_OK,
                  controller.get());
    });
  }).detach();
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EnvironmentVersion(void* self, LPWSTR* version) {
  return CopyOut(Wide(Self<Environment>(self)->engine->version()), version);
}

const Slot* EnvironmentTable() {
  static const Table<8> table = EnvironmentTableWith(&EnvironmentCreateController, &EnvironmentVersion);
  return table.slots.data();
}

// Where the real runtime keeps a profile when the host names no folder:
// "<program>.WebView2" beside the program.
std::wstring DefaultUserDataFolder() {
  std::wstring program(MAX_PATH * 2, L'\0');
  program.resize(::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size())));
  return program + L".WebView2";
}

chromium_runtime::ChromiumOptions OptionsFor(PCWSTR userDataFolder, IUnknown* options) {
  chromium_runtime::ChromiumOptions chromium;
  const std::filesystem::path folder =
      userDataFolder != nullptr && *userDataFolder != L'\0' ? std::wstring(userDataFolder) : DefaultUserDataFolder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  // The same layout as the real runtime's: the profile in EBWebView.
  chromium.profileFolder = (folder / L"EBWebView").wstring();
  chromium.logFile = (folder / L"chromium.log").wstring();
  // The installed runtime's own switches first: the host's and the
  // environment's come later and win.
  std::wstring arguments = chromium_runtime::InstalledBrowserArguments();
  if (const Json given = OptionText(options, &ICoreWebView2EnvironmentOptions::get_AdditionalBrowserArguments);
      given.is_string())
    arguments += L" " + Wide(given.get<std::string>());
  // Appended, as the real runtime does.
  if (const std::wstring more = EnvironmentValue(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS"); !more.empty()) {
    arguments += L" " + more;
  }
  chromium.extraArguments = chromium_runtime::BrowserArguments(arguments);
  if (const Json language = OptionText(options, &ICoreWebView2EnvironmentOptions::get_Language);
      language.is_string() && !language.get<std::string>().empty()) {
    chromium.extraArguments.push_back("--lang=" + language.get<std::string>());
  }
  if (const std::wstring other = EnvironmentValue(L"MIRAVELL_CHROMIUM"); !other.empty()) {
    chromium.executable = Utf8(other.c_str());
  }
  return chromium;
}

}  // namespace

// ---------------------------------------------------------------- exports

extern "C" {

HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(BOOL first, int runtimeType,
                                                                      PCWSTR userDataFolder, IUnknown* options,
                                                                      void* handler) {
  try {
    LogEnvironmentCall(first, runtimeType, userDataFolder, options, {{"unix_ms", UnixMilliseconds()}});
    if (handler == nullptr) return E_POINTER;
    EnsurePostWindow();
    HWND window = postWindow;
    if (window == nullptr) return HRESULT_FROM_WIN32(::GetLastError());
    const chromium_runtime::ChromiumOptions chromium = OptionsFor(userDataFolder, options);
    const Clock::time_point asked = Clock::now();
    // Chromium takes about a second to answer; the caller's thread pumps
    // meanwhile and gets the answer there.
    std::thread([chromium, window, asked, held = ForeignRef(handler)] {
      std::shared_ptr<Engine> engine;
      HRESULT result = S_OK;
      std::string why;
      try {
        engine = Engine::Start(chromium);
      } catch (const chromium_runtime::StartError& error) {
        result = error.code();
        why = error.what();
      } catch (...) {
        result = E_FAIL;
      }
      PostTask([engine, window, asked, held, result, why] {
        Log("runtime", "environment_completed", Json::array({HexResult(result)}),
            {{"ms", MillisecondsSince(asked)}, {"unix_ms", UnixMilliseconds()}, {"why", why}});
        if (FAILED(result)) {
          CallForeign(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke, held.get(), result, nullptr);
          return;
        }
        engine->AttachTo(window, kPumpEngines);
        const ObjectPtr<Environment> environment(
            Make<Environment>(EnvironmentTable(), "environment", {__uuidof(ICoreWebView2Environment)}));
        environment->engine = engine;
        CallForeign(&ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler::Invoke, held.get(), S_OK,
                    environment.get());
      });
    }).detach();
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

// No window may outlive the procedure it calls.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) postWindowSetup = {L"MiravellChromiumRuntimePost", &OnPostWindowMessage};
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    DestroyPostWindow();
    PageSurface::Unregister();
  }
  return TRUE;
}

// Window procedures, threads and posted work live in this module, so it stays loaded.
HRESULT STDMETHODCALLTYPE DllCanUnloadNow() { return S_FALSE; }

}  // extern "C"
