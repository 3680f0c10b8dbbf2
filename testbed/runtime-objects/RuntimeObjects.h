#pragma once
// The COM objects both browser runtimes of the test bed hand the player (the
// scripted one for the tests, the Chromium-backed one for people): objects
// whose vtables are arrays of plain function pointers, each put in the slot
// the program's own declaration of its method occupies (runtime/
// WebView2Interfaces.h, read with SlotOf), and checked at compile time to
// take that method's parameters. Nothing here numbers a slot: the one check
// of the declarations against the engine's ABI numbers is the runtime
// library's VtableTest. A slot no function was put in answers E_NOTIMPL and
// logs an unknown_slot call. Also here: the call log, the view's event
// registrations, the event arguments, request and response objects, the
// settings and the controller's plain properties, which behave the same
// whatever engine is behind them, and the window that runs completions later
// on the caller's thread.
//
// Header only: each runtime is a DLL of its own and compiles its own copy.
#include <windows.h>
#include <objbase.h>
#include <wrl/client.h>

#include <nlohmann/json.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/Handles.h"
#include "runtime/WebView2Interfaces.h"
#include "testbed/runtime-objects/SlotProbe.h"

namespace runtime_objects {

// Ordered so that log lines read object, call, args.
using Json = nlohmann::ordered_json;

// The view's events, as both runtimes index their handler tables.
enum EventKind {
  kNavigation,
  kMessage,
  kPermission,
  kNewWindow,
  kResource,
  kDownload,
  kNavigationCompleted,
  kProcessFailed,
  kEventKinds
};

// Each event's name in the logs ("add_" + name), its registration methods and
// the Invoke of its handler, in EventKind order.
template <class Add, class Remove, class Invoke>
struct EventMethods {
  const char* name;
  Add add;
  Remove remove;
  Invoke invoke;
};
template <class Add, class Remove, class Invoke>
EventMethods(const char*, Add, Remove, Invoke) -> EventMethods<Add, Remove, Invoke>;

inline constexpr std::tuple kEvents{
    EventMethods{"NavigationStarting", &ICoreWebView2::add_NavigationStarting,
                 &ICoreWebView2::remove_NavigationStarting, &ICoreWebView2NavigationStartingEventHandler::Invoke},
    EventMethods{"WebMessageReceived", &ICoreWebView2::add_WebMessageReceived,
                 &ICoreWebView2::remove_WebMessageReceived, &ICoreWebView2WebMessageReceivedEventHandler::Invoke},
    EventMethods{"PermissionRequested", &ICoreWebView2::add_PermissionRequested,
                 &ICoreWebView2::remove_PermissionRequested, &ICoreWebView2PermissionRequestedEventHandler::Invoke},
    EventMethods{"NewWindowRequested", &ICoreWebView2::add_NewWindowRequested,
                 &ICoreWebView2::remove_NewWindowRequested, &ICoreWebView2NewWindowRequestedEventHandler::Invoke},
    EventMethods{"WebResourceRequested", &ICoreWebView2::add_WebResourceRequested,
                 &ICoreWebView2::remove_WebResourceRequested, &ICoreWebView2WebResourceRequestedEventHandler::Invoke},
    EventMethods{"DownloadStarting", &ICoreWebView2_4::add_DownloadStarting, &ICoreWebView2_4::remove_DownloadStarting,
                 &ICoreWebView2DownloadStartingEventHandler::Invoke},
    EventMethods{"NavigationCompleted", &ICoreWebView2::add_NavigationCompleted,
                 &ICoreWebView2::remove_NavigationCompleted, &ICoreWebView2NavigationCompletedEventHandler::Invoke},
    EventMethods{"ProcessFailed", &ICoreWebView2::add_ProcessFailed, &ICoreWebView2::remove_ProcessFailed,
                 &ICoreWebView2ProcessFailedEventHandler::Invoke}};
static_assert(std::tuple_size_v<decltype(kEvents)> == kEventKinds);

// Every slot is stored as this type; the table-building code casts back to
// the real signature only at the call site, which the language allows.
using Slot = void (*)();

// ---------------------------------------------------------------- text

inline std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return {};
  const int chars = static_cast<int>(wcslen(text));
  if (chars == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, chars, out.data(), bytes, nullptr, nullptr);
  return out;
}

inline std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), chars);
  return out;
}

inline Json Text(const wchar_t* text) { return text == nullptr ? Json(nullptr) : Json(Utf8(text)); }

inline std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[2048];
  const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return {};
  return std::wstring(buffer, length);
}

// Returned strings belong to the caller, who frees them with CoTaskMemFree.
inline HRESULT CopyOut(const std::wstring& text, LPWSTR* out) {
  if (out == nullptr) return E_POINTER;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  memcpy(copy, text.c_str(), bytes);
  *out = copy;
  return S_OK;
}

inline std::string HexResult(HRESULT hr) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
  return buffer;
}

// ---------------------------------------------------------------- the call log

inline std::mutex logLock;

// One JSON line per call in the file MIRAVELL_RUNTIME_LOG names; nothing
// when it names none.
inline void Log(const char* object, const char* call, Json args = Json::array(), Json extra = nullptr) {
  const std::wstring path = EnvironmentValue(L"MIRAVELL_RUNTIME_LOG");
  if (path.empty()) return;
  Json line = {{"object", object}, {"call", call}, {"args", std::move(args)}};
  if (extra.is_object()) line.update(extra);
  const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> guard(logLock);
  UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// ---------------------------------------------------------------- objects

struct Object;
using Destroy = void (*)(Object*);

// Head of every object: the vtable pointer must come first, as COM expects.
struct Object {
  const Slot* vtbl;
  std::atomic<ULONG> refs{1};
  const char* name;
  Destroy destroy;
  std::vector<GUID> iids;  // answered by QueryInterface besides IUnknown
};

template <class T>
T* Self(void* self) {
  return static_cast<T*>(static_cast<Object*>(self));
}

// Objects of the player's (handlers, options) are held as IUnknown.
inline void AddRefForeign(void* object) {
  if (object != nullptr) static_cast<IUnknown*>(object)->AddRef();
}

inline void ReleaseForeign(void* object) {
  if (object != nullptr) static_cast<IUnknown*>(object)->Release();
}

// One of our objects, or anything else, where a declaration names a pointer of
// another type; everything else as it is.
template <class Param, class Given>
Param PassAs(Given given) {
  if constexpr (std::is_pointer_v<Param> && std::is_pointer_v<Given> && !std::is_convertible_v<Given, Param>) {
    return static_cast<Param>(static_cast<void*>(given));
  } else {
    return given;
  }
}

// Calls a method of one of the player's objects through the program's own
// declaration of it, e.g. CallForeign(&ICoreWebView2ExecuteScriptCompletedHandler::Invoke, handler, S_OK, L"null").
template <class Interface, class... Params, class... Given>
HRESULT CallForeign(HRESULT (STDMETHODCALLTYPE Interface::*method)(Params...), void* object, Given... given) {
  static_assert(sizeof...(Params) == sizeof...(Given), "the declaration takes other arguments");
  return (static_cast<Interface*>(object)->*method)(PassAs<Params>(given)...);
}

// One reference to a handler of the player's, given back when it goes.
class ForeignRef {
 public:
  ForeignRef() noexcept = default;
  // Takes a reference of its own.
  explicit ForeignRef(void* object) noexcept : object_(object) { AddRefForeign(object_); }
  // Takes over a reference the caller already holds.
  static ForeignRef Adopt(void* object) noexcept {
    ForeignRef ref;
    ref.object_ = object;
    return ref;
  }
  ~ForeignRef() { ReleaseForeign(object_); }
  ForeignRef(ForeignRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  ForeignRef& operator=(ForeignRef&& other) noexcept {
    if (this != &other) {
      ReleaseForeign(object_);
      object_ = std::exchange(other.object_, nullptr);
    }
    return *this;
  }
  ForeignRef(const ForeignRef& other) noexcept : object_(other.object_) { AddRefForeign(object_); }
  ForeignRef& operator=(const ForeignRef& other) noexcept {
    if (this != &other) *this = ForeignRef(other);
    return *this;
  }
  [[nodiscard]] void* get() const noexcept { return object_; }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  void* object_ = nullptr;
};

inline void AddRefObject(Object* object) { object->refs.fetch_add(1); }

inline void ReleaseObject(Object* object) {
  if (object->refs.fetch_sub(1) == 1) object->destroy(object);
}

// Owns one reference to one of our objects.
struct ObjectRelease {
  void operator()(Object* object) const noexcept { ReleaseObject(object); }
};
template <class T>
using ObjectPtr = std::unique_ptr<T, ObjectRelease>;

// One more reference to an object held elsewhere.
template <class T>
ObjectPtr<T> Share(T* object) {
  AddRefObject(object);
  return ObjectPtr<T>(object);
}

inline HRESULT STDMETHODCALLTYPE QueryInterfaceSlot(void* self, REFIID riid, void** out) {
  if (out == nullptr) return E_POINTER;
  Object* object = static_cast<Object*>(self);
  bool known = IsEqualIID(riid, IID_IUnknown);
  for (const GUID& iid : object->iids) known = known || IsEqualIID(riid, iid);
  if (!known) {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  AddRefObject(object);
  *out = self;
  return S_OK;
}

inline ULONG STDMETHODCALLTYPE AddRefSlot(void* self) { return static_cast<Object*>(self)->refs.fetch_add(1) + 1; }

inline ULONG STDMETHODCALLTYPE ReleaseSlot(void* self) {
  Object* object = static_cast<Object*>(self);
  const ULONG left = object->refs.fetch_sub(1) - 1;
  if (left == 0) object->destroy(object);
  return left;
}

// Slots the player has no business calling: they fail and leave a trace.
// Declaring only `self` is safe whatever the real signature: on x64 the
// caller owns the argument area and the result travels in a register.
template <int Slot_>
HRESULT STDMETHODCALLTYPE UnusedSlot(void* self) {
  Log(static_cast<Object*>(self)->name, "unknown_slot", Json::array({Slot_}));
  return E_NOTIMPL;
}

template <size_t N, size_t... I>
std::array<Slot, N> UnusedTable(std::index_sequence<I...>) {
  return {{reinterpret_cast<Slot>(&UnusedSlot<static_cast<int>(I)>)...}};
}

template <class Fn>
Slot AsSlot(Fn fn) {
  return reinterpret_cast<Slot>(fn);
}

// Whether our function's parameter Ours receives what a caller of the
// declaration passes as Theirs: the same type; an interface pointer (or a
// pointer to one, for an out parameter) as void* (void**), since our objects
// are no C++ classes of those interfaces; an enum as an integer of its size.
template <class Ours, class Theirs>
struct Receives : std::is_same<Ours, Theirs> {};
template <class Theirs>
struct Receives<void*, Theirs*> : std::is_class<Theirs> {};
template <class Theirs>
struct Receives<void**, Theirs**> : std::is_class<Theirs> {};
template <class Ours, class Theirs>
requires(std::is_enum_v<Theirs>&& std::is_integral_v<Ours>) struct Receives<Ours, Theirs>
    : std::bool_constant<sizeof(Ours) == sizeof(Theirs)> {
};
template <class Ours, class Theirs>
requires(std::is_enum_v<Theirs>&& std::is_integral_v<Ours>) struct Receives<Ours*, Theirs*>
    : std::bool_constant<sizeof(Ours) == sizeof(Theirs)> {
};

template <class... Types>
struct TypeList {};
template <class Ours, class Theirs>
struct ReceivesAll : std::false_type {};
template <class... Ours, class... Theirs>
requires(sizeof...(Ours) == sizeof...(Theirs)) struct ReceivesAll<TypeList<Ours...>, TypeList<Theirs...>>
    : std::bool_constant<(Receives<Ours, Theirs>::value && ...)> {
};

// A vtable of exactly N entries: IUnknown, then every slot unused until set.
template <size_t N>
struct Table {
  std::array<Slot, N> slots = UnusedTable<N>(std::make_index_sequence<N>());
  Table() {
    slots[0] = AsSlot(&QueryInterfaceSlot);
    slots[1] = AsSlot(&AddRefSlot);
    slots[2] = AsSlot(&ReleaseSlot);
  }
  // Puts fn where the declaration puts method, e.g.
  // Set(&ICoreWebView2NavigationStartingEventArgs::put_Cancel, &NavigationPutCancel); fn takes the
  // object, then what the method takes.
  template <class Interface, class... Params, class... Ours>
  Table& Set(HRESULT (STDMETHODCALLTYPE Interface::*method)(Params...),
             HRESULT(STDMETHODCALLTYPE* fn)(void*, Ours...)) {
    static_assert(ReceivesAll<TypeList<Ours...>, TypeList<Params...>>::value,
                  "the function does not take what the declared method takes");
    slots.at(static_cast<size_t>(SlotOf(method))) = AsSlot(fn);
    return *this;
  }
};

template <class T>
void DestroyAs(Object* object) {
  delete static_cast<T*>(object);
}

template <class T>
T* Make(const Slot* vtbl, const char* name, std::vector<GUID> iids) {
  T* object = new T();
  object->vtbl = vtbl;
  object->name = name;
  object->destroy = &DestroyAs<T>;
  object->iids = std::move(iids);
  return object;
}

// ---------------------------------------------------------------- the post window

// Work posted to the thread that called into the runtime, the way the real
// runtime completes its calls later on the caller's thread: a message-only
// window of that thread runs it. Each runtime names the window's class and
// may take the messages that are not posted work (timers, its own wake-ups).
struct PostWindowSetup {
  const wchar_t* className = L"MiravellRuntimePost";
  bool (*onMessage)(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = nullptr;
};

constexpr UINT kRunTask = WM_APP + 17;
inline PostWindowSetup postWindowSetup;
inline HWND postWindow = nullptr;

inline LRESULT CALLBACK PostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunTask) {
    auto* task = reinterpret_cast<std::function<void()>*>(lParam);
    try {
      (*task)();
    } catch (...) {
      Log("runtime", "task_failed");
    }
    delete task;
    return 0;
  }
  if (postWindowSetup.onMessage != nullptr) {
    try {
      if (postWindowSetup.onMessage(window, message, wParam, lParam)) return 0;
    } catch (...) {
      Log("runtime", "message_failed", Json::array({message}));
      return 0;
    }
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

inline HINSTANCE ModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&PostWindowProc), &module);
  return module;
}

// Makes the window in the calling thread the first time; true when it was made now.
inline bool EnsurePostWindow() {
  if (postWindow != nullptr) return false;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &PostWindowProc;
  windowClass.hInstance = ModuleHandle();
  windowClass.lpszClassName = postWindowSetup.className;
  RegisterClassW(&windowClass);
  postWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               windowClass.hInstance, nullptr);
  return postWindow != nullptr;
}

// Any thread: runs work on the post window's thread when it next pumps messages.
inline bool PostTask(std::function<void()> work) {
  if (postWindow == nullptr) return false;
  auto* task = new std::function<void()>(std::move(work));
  if (PostMessageW(postWindow, kRunTask, 0, reinterpret_cast<LPARAM>(task))) return true;
  delete task;
  return false;
}

// Caller's thread: makes the window when needed, then posts.
inline void Later(std::function<void()> work) {
  EnsurePostWindow();
  PostTask(std::move(work));
}

// As Later, but not before ms have passed (the wait runs on a thread of its
// own; the work still runs on the thread that owns the post window).
inline void LaterAfter(int ms, std::function<void()> work) {
  if (ms <= 0) {
    Later(std::move(work));
    return;
  }
  EnsurePostWindow();
  auto* task = new std::function<void()>(std::move(work));
  HWND window = postWindow;
  std::thread([window, task, ms] {
    Sleep(static_cast<DWORD>(ms));
    if (!PostMessageW(window, kRunTask, 0, reinterpret_cast<LPARAM>(task))) delete task;
  }).detach();
}

// The DLL is going away: no window may outlive the procedure it calls.
inline void DestroyPostWindow() {
  if (postWindow == nullptr) return;
  DestroyWindow(postWindow);
  postWindow = nullptr;
  UnregisterClassW(postWindowSetup.className, ModuleHandle());
}

// ---------------------------------------------------------------- headers, request, response

// Header names compare without regard to case, as in HTTP.
inline bool SameName(const std::wstring& known, const wchar_t* name) {
  return name != nullptr && CompareStringOrdinal(known.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
}

struct Headers : Object {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  Json set = Json::object();  // what the player changed

  std::pair<std::wstring, std::wstring>* Find(const wchar_t* wanted) {
    for (auto& entry : entries) {
      if (SameName(entry.first, wanted)) return &entry;
    }
    return nullptr;
  }
  Json AsJson() const {
    Json json = Json::object();
    for (const auto& entry : entries) json[Utf8(entry.first.c_str())] = Utf8(entry.second.c_str());
    return json;
  }
};

inline HRESULT STDMETHODCALLTYPE HeadersGet(void* self, LPCWSTR name, LPWSTR* value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "GetHeader", Json::array({Text(name)}));
  auto* entry = headers->Find(name);
  if (entry == nullptr) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  return CopyOut(entry->second, value);
}

inline HRESULT STDMETHODCALLTYPE HeadersContains(void* self, LPCWSTR name, BOOL* value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "Contains", Json::array({Text(name)}));
  if (value == nullptr) return E_POINTER;
  *value = headers->Find(name) != nullptr ? TRUE : FALSE;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE HeadersSet(void* self, LPCWSTR name, LPCWSTR value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "SetHeader", Json::array({Text(name), Text(value)}));
  if (name == nullptr || value == nullptr) return E_INVALIDARG;
  if (auto* entry = headers->Find(name)) {
    entry->second = value;
  } else {
    headers->entries.emplace_back(name, value);
  }
  headers->set[Utf8(name)] = Utf8(value);
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE HeadersRemove(void* self, LPCWSTR name) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "RemoveHeader", Json::array({Text(name)}));
  for (auto it = headers->entries.begin(); it != headers->entries.end(); ++it) {
    if (SameName(it->first, name)) {
      headers->entries.erase(it);
      break;
    }
  }
  headers->set[Utf8(name)] = nullptr;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResponseHeadersAppend(void* self, LPCWSTR name, LPCWSTR value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "AppendHeader", Json::array({Text(name), Text(value)}));
  if (name == nullptr || value == nullptr) return E_INVALIDARG;
  headers->entries.emplace_back(name, value);
  headers->set[Utf8(name)] = Utf8(value);
  return S_OK;
}

inline const Slot* RequestHeadersTable() {
  using I = ICoreWebView2HttpRequestHeaders;
  static const Table<9> table = Table<9>()
                                    .Set(&I::GetHeader, &HeadersGet)
                                    .Set(&I::Contains, &HeadersContains)
                                    .Set(&I::SetHeader, &HeadersSet)
                                    .Set(&I::RemoveHeader, &HeadersRemove);
  return table.slots.data();
}

inline const Slot* ResponseHeadersTable() {
  using I = ICoreWebView2HttpResponseHeaders;
  static const Table<8> table = Table<8>()
                                    .Set(&I::AppendHeader, &ResponseHeadersAppend)
                                    .Set(&I::Contains, &HeadersContains)
                                    .Set(&I::GetHeader, &HeadersGet);
  return table.slots.data();
}

// Parses "Name: value" lines, the form CreateWebResourceResponse takes.
inline void ParseHeaderLines(const wchar_t* text, Headers& headers) {
  if (text == nullptr) return;
  std::wstringstream stream(text);
  std::wstring line;
  while (std::getline(stream, line)) {
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    const size_t colon = line.find(L':');
    if (colon == std::wstring::npos) continue;
    std::wstring value = line.substr(colon + 1);
    while (!value.empty() && value.front() == L' ') value.erase(value.begin());
    headers.entries.emplace_back(line.substr(0, colon), value);
  }
}

struct Request : Object {
  std::wstring uri;
  std::wstring method = L"GET";
  Headers* headers = nullptr;
  ~Request() {
    if (headers != nullptr) ReleaseObject(headers);
  }
};

inline HRESULT STDMETHODCALLTYPE RequestGetUri(void* self, LPWSTR* uri) {
  Log("request", "get_Uri");
  return CopyOut(Self<Request>(self)->uri, uri);
}

inline HRESULT STDMETHODCALLTYPE RequestGetMethod(void* self, LPWSTR* method) {
  Log("request", "get_Method");
  return CopyOut(Self<Request>(self)->method, method);
}

inline HRESULT STDMETHODCALLTYPE RequestGetHeaders(void* self, void** headers) {
  Log("request", "get_Headers");
  if (headers == nullptr) return E_POINTER;
  Request* request = Self<Request>(self);
  AddRefObject(request->headers);
  *headers = request->headers;
  return S_OK;
}

inline const Slot* RequestTable() {
  using I = ICoreWebView2WebResourceRequest;
  static const Table<10> table = Table<10>()
                                     .Set(&I::get_Uri, &RequestGetUri)
                                     .Set(&I::get_Method, &RequestGetMethod)
                                     .Set(&I::get_Headers, &RequestGetHeaders);
  return table.slots.data();
}

inline Request* MakeRequest(const std::wstring& uri) {
  Request* request = Make<Request>(RequestTable(), "request", {__uuidof(ICoreWebView2WebResourceRequest)});
  request->uri = uri;
  request->headers =
      Make<Headers>(RequestHeadersTable(), "request_headers", {__uuidof(ICoreWebView2HttpRequestHeaders)});
  return request;
}

struct Response : Object {
  int status = 0;
  std::wstring reason;
  bool hasContent = false;
  Microsoft::WRL::ComPtr<IStream> content;  // read when the response is served
  Headers* headers = nullptr;
  ~Response() {
    if (headers != nullptr) ReleaseObject(headers);
  }
  Json AsJson() const {
    return {{"status", status},
            {"reason", Utf8(reason.c_str())},
            {"headers", headers->AsJson()},
            {"has_content", hasContent}};
  }
};

inline HRESULT STDMETHODCALLTYPE ResponseGetHeaders(void* self, void** headers) {
  Log("response", "get_Headers");
  if (headers == nullptr) return E_POINTER;
  Response* response = Self<Response>(self);
  AddRefObject(response->headers);
  *headers = response->headers;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResponseGetStatus(void* self, int* status) {
  Log("response", "get_StatusCode");
  if (status == nullptr) return E_POINTER;
  *status = Self<Response>(self)->status;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResponsePutStatus(void* self, int status) {
  Log("response", "put_StatusCode", Json::array({status}));
  Self<Response>(self)->status = status;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResponseGetReason(void* self, LPWSTR* reason) {
  Log("response", "get_ReasonPhrase");
  return CopyOut(Self<Response>(self)->reason, reason);
}

inline HRESULT STDMETHODCALLTYPE ResponsePutReason(void* self, LPCWSTR reason) {
  Log("response", "put_ReasonPhrase", Json::array({Text(reason)}));
  Self<Response>(self)->reason = reason != nullptr ? reason : L"";
  return S_OK;
}

inline const Slot* ResponseTable() {
  using I = ICoreWebView2WebResourceResponse;
  static const Table<10> table = Table<10>()
                                     .Set(&I::get_Headers, &ResponseGetHeaders)
                                     .Set(&I::get_StatusCode, &ResponseGetStatus)
                                     .Set(&I::put_StatusCode, &ResponsePutStatus)
                                     .Set(&I::get_ReasonPhrase, &ResponseGetReason)
                                     .Set(&I::put_ReasonPhrase, &ResponsePutReason);
  return table.slots.data();
}

// ICoreWebView2Environment::CreateWebResourceResponse, the same for both runtimes.
inline HRESULT STDMETHODCALLTYPE EnvironmentCreateResponse(void*, IStream* content, int status, LPCWSTR reason,
                                                           LPCWSTR headerLines, void** out) {
  if (out == nullptr) return E_POINTER;
  Response* response = Make<Response>(ResponseTable(), "response", {__uuidof(ICoreWebView2WebResourceResponse)});
  response->status = status;
  response->reason = reason != nullptr ? reason : L"";
  response->hasContent = content != nullptr;
  response->content = content;
  response->headers =
      Make<Headers>(ResponseHeadersTable(), "response_headers", {__uuidof(ICoreWebView2HttpResponseHeaders)});
  ParseHeaderLines(headerLines, *response->headers);
  Log("environment", "CreateWebResourceResponse",
      Json::array({content != nullptr, status, Text(reason), Text(headerLines)}));
  *out = response;
  return S_OK;
}

// ---------------------------------------------------------------- event arguments

struct Args : Object {
  std::wstring uri;
  std::wstring message;  // the JSON text of a web message
  bool messageIsString = false;
  BOOL userInitiated = TRUE;
  BOOL redirected = FALSE;
  std::uint64_t navigationId = 0;
  BOOL cancel = FALSE;
  BOOL handled = FALSE;
  int permissionKind = 0;
  int permissionState = 0;
  int resourceContext = 0;
  Request* request = nullptr;
  Response* response = nullptr;
  std::wstring resultFilePath;  // where a download would be saved
  std::wstring mimeType;
  Args* operation = nullptr;  // a download's operation, answering with this object's uri and type
  BOOL isSuccess = TRUE;
  int webErrorStatus = 0;  // COREWEBVIEW2_WEB_ERROR_STATUS
  int httpStatusCode = 0;
  int processFailedKind = 0;    // COREWEBVIEW2_PROCESS_FAILED_KIND
  int processFailedReason = 0;  // COREWEBVIEW2_PROCESS_FAILED_REASON
  int exitCode = 0;
  std::wstring processDescription;
  ~Args() {
    if (request != nullptr) ReleaseObject(request);
    if (response != nullptr) ReleaseObject(response);
    if (operation != nullptr) ReleaseObject(operation);
  }
};

inline HRESULT STDMETHODCALLTYPE ArgsGetUri(void* self, LPWSTR* uri) {
  Args* args = Self<Args>(self);
  Log(args->name, "get_Uri");
  return CopyOut(args->uri, uri);
}

inline HRESULT STDMETHODCALLTYPE ArgsUserInitiated(void* self, BOOL* value) {
  Log(static_cast<Object*>(self)->name, "get_IsUserInitiated");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->userInitiated;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ArgsRedirected(void* self, BOOL* value) {
  Log(static_cast<Object*>(self)->name, "get_IsRedirected");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->redirected;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE NavigationGetCancel(void* self, BOOL* cancel) {
  Log("navigation_args", "get_Cancel");
  if (cancel == nullptr) return E_POINTER;
  *cancel = Self<Args>(self)->cancel;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE NavigationPutCancel(void* self, BOOL cancel) {
  Log("navigation_args", "put_Cancel", Json::array({cancel}));
  Self<Args>(self)->cancel = cancel;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE NavigationGetId(void* self, UINT64* id) {
  Log("navigation_args", "get_NavigationId");
  if (id == nullptr) return E_POINTER;
  *id = Self<Args>(self)->navigationId;
  return S_OK;
}

inline const Slot* NavigationArgsTable() {
  using I = ICoreWebView2NavigationStartingEventArgs;
  static const Table<10> table = Table<10>()
                                     .Set(&I::get_Uri, &ArgsGetUri)
                                     .Set(&I::get_IsUserInitiated, &ArgsUserInitiated)
                                     .Set(&I::get_IsRedirected, &ArgsRedirected)
                                     .Set(&I::get_Cancel, &NavigationGetCancel)
                                     .Set(&I::put_Cancel, &NavigationPutCancel)
                                     .Set(&I::get_NavigationId, &NavigationGetId);
  return table.slots.data();
}

inline HRESULT STDMETHODCALLTYPE MessageGetSource(void* self, LPWSTR* source) {
  Log("message_args", "get_Source");
  return CopyOut(Self<Args>(self)->uri, source);
}

inline HRESULT STDMETHODCALLTYPE MessageGetJson(void* self, LPWSTR* json) {
  Log("message_args", "get_WebMessageAsJson");
  return CopyOut(Self<Args>(self)->message, json);
}

// Like the real runtime: only a message posted as a string has a string form.
inline HRESULT STDMETHODCALLTYPE MessageTryString(void* self, LPWSTR* text) {
  Args* args = Self<Args>(self);
  Log("message_args", "TryGetWebMessageAsString");
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  if (!args->messageIsString) return E_INVALIDARG;
  const Json parsed = Json::parse(Utf8(args->message.c_str()), nullptr, false);
  if (!parsed.is_string()) return E_INVALIDARG;
  return CopyOut(Wide(parsed.get<std::string>()), text);
}

inline const Slot* MessageArgsTable() {
  using I = ICoreWebView2WebMessageReceivedEventArgs;
  static const Table<6> table = Table<6>()
                                    .Set(&I::get_Source, &MessageGetSource)
                                    .Set(&I::get_WebMessageAsJson, &MessageGetJson)
                                    .Set(&I::TryGetWebMessageAsString, &MessageTryString);
  return table.slots.data();
}

inline HRESULT STDMETHODCALLTYPE PermissionGetKind(void* self, int* kind) {
  Log("permission_args", "get_PermissionKind");
  if (kind == nullptr) return E_POINTER;
  *kind = Self<Args>(self)->permissionKind;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE PermissionGetState(void* self, int* state) {
  Log("permission_args", "get_State");
  if (state == nullptr) return E_POINTER;
  *state = Self<Args>(self)->permissionState;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE PermissionPutState(void* self, int state) {
  Log("permission_args", "put_State", Json::array({state}));
  Self<Args>(self)->permissionState = state;
  return S_OK;
}

inline const Slot* PermissionArgsTable() {
  using I = ICoreWebView2PermissionRequestedEventArgs;
  static const Table<9> table = Table<9>()
                                    .Set(&I::get_Uri, &ArgsGetUri)
                                    .Set(&I::get_PermissionKind, &PermissionGetKind)
                                    .Set(&I::get_IsUserInitiated, &ArgsUserInitiated)
                                    .Set(&I::get_State, &PermissionGetState)
                                    .Set(&I::put_State, &PermissionPutState);
  return table.slots.data();
}

inline HRESULT STDMETHODCALLTYPE NewWindowPutHandled(void* self, BOOL handled) {
  Log("new_window_args", "put_Handled", Json::array({handled}));
  Self<Args>(self)->handled = handled;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE NewWindowGetHandled(void* self, BOOL* handled) {
  Log("new_window_args", "get_Handled");
  if (handled == nullptr) return E_POINTER;
  *handled = Self<Args>(self)->handled;
  return S_OK;
}

inline const Slot* NewWindowArgsTable() {
  using I = ICoreWebView2NewWindowRequestedEventArgs;
  static const Table<11> table = Table<11>()
                                     .Set(&I::get_Uri, &ArgsGetUri)
                                     .Set(&I::put_Handled, &NewWindowPutHandled)
                                     .Set(&I::get_Handled, &NewWindowGetHandled)
                                     .Set(&I::get_IsUserInitiated, &ArgsUserInitiated);
  return table.slots.data();
}

inline HRESULT STDMETHODCALLTYPE ResourceGetRequest(void* self, void** request) {
  Log("resource_args", "get_Request");
  if (request == nullptr) return E_POINTER;
  Args* args = Self<Args>(self);
  AddRefObject(args->request);
  *request = args->request;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResourceGetResponse(void* self, void** response) {
  Log("resource_args", "get_Response");
  if (response == nullptr) return E_POINTER;
  Args* args = Self<Args>(self);
  *response = args->response;
  if (args->response != nullptr) AddRefObject(args->response);
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResourcePutResponse(void* self, void* response) {
  Args* args = Self<Args>(self);
  // Only responses this runtime made can be read back; anything else is a fault of the caller.
  Response* ours = nullptr;
  if (response != nullptr && static_cast<Object*>(response)->vtbl == ResponseTable()) {
    ours = Self<Response>(response);
  }
  Log("resource_args", "put_Response", Json::array({ours != nullptr ? ours->AsJson() : Json(nullptr)}));
  if (response != nullptr && ours == nullptr) return E_INVALIDARG;
  if (ours != nullptr) AddRefObject(ours);
  if (args->response != nullptr) ReleaseObject(args->response);
  args->response = ours;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ResourceGetContext(void* self, int* context) {
  Log("resource_args", "get_ResourceContext");
  if (context == nullptr) return E_POINTER;
  *context = Self<Args>(self)->resourceContext;
  return S_OK;
}

inline const Slot* ResourceArgsTable() {
  using I = ICoreWebView2WebResourceRequestedEventArgs;
  static const Table<8> table = Table<8>()
                                    .Set(&I::get_Request, &ResourceGetRequest)
                                    .Set(&I::get_Response, &ResourceGetResponse)
                                    .Set(&I::put_Response, &ResourcePutResponse)
                                    .Set(&I::get_ResourceContext, &ResourceGetContext);
  return table.slots.data();
}

inline HRESULT STDMETHODCALLTYPE DownloadGetOperation(void* self, void** operation) {
  Log("download_args", "get_DownloadOperation");
  if (operation == nullptr) return E_POINTER;
  Args* args = Self<Args>(self);
  *operation = args->operation;
  if (args->operation == nullptr) return E_FAIL;
  AddRefObject(args->operation);
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE DownloadGetCancel(void* self, BOOL* cancel) {
  Log("download_args", "get_Cancel");
  if (cancel == nullptr) return E_POINTER;
  *cancel = Self<Args>(self)->cancel;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE DownloadPutCancel(void* self, BOOL cancel) {
  Log("download_args", "put_Cancel", Json::array({cancel}));
  Self<Args>(self)->cancel = cancel;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE DownloadGetResultFilePath(void* self, LPWSTR* path) {
  Log(static_cast<Object*>(self)->name, "get_ResultFilePath");
  return CopyOut(Self<Args>(self)->resultFilePath, path);
}

inline HRESULT STDMETHODCALLTYPE DownloadGetMimeType(void* self, LPWSTR* type) {
  Log("download_operation", "get_MimeType");
  return CopyOut(Self<Args>(self)->mimeType, type);
}

inline const Slot* DownloadArgsTable() {
  using I = ICoreWebView2DownloadStartingEventArgs;
  static const Table<11> table = Table<11>()
                                     .Set(&I::get_DownloadOperation, &DownloadGetOperation)
                                     .Set(&I::get_Cancel, &DownloadGetCancel)
                                     .Set(&I::put_Cancel, &DownloadPutCancel)
                                     .Set(&I::get_ResultFilePath, &DownloadGetResultFilePath);
  return table.slots.data();
}

// The address and type; the progress events and controls are not offered.
inline const Slot* DownloadOperationTable() {
  using I = ICoreWebView2DownloadOperation;
  static const Table<22> table = Table<22>().Set(&I::get_Uri, &ArgsGetUri).Set(&I::get_MimeType, &DownloadGetMimeType);
  return table.slots.data();
}

inline Args* MakeArgs(const Slot* vtbl, const char* name, const GUID& iid) { return Make<Args>(vtbl, name, {iid}); }

inline Args* MakeNavigationArgs() {
  return MakeArgs(NavigationArgsTable(), "navigation_args", __uuidof(ICoreWebView2NavigationStartingEventArgs));
}
inline Args* MakeMessageArgs() {
  return MakeArgs(MessageArgsTable(), "message_args", __uuidof(ICoreWebView2WebMessageReceivedEventArgs));
}
inline Args* MakePermissionArgs() {
  return MakeArgs(PermissionArgsTable(), "permission_args", __uuidof(ICoreWebView2PermissionRequestedEventArgs));
}
inline Args* MakeNewWindowArgs() {
  return MakeArgs(NewWindowArgsTable(), "new_window_args", __uuidof(ICoreWebView2NewWindowRequestedEventArgs));
}
// A download about to start, its operation carrying the same address, type and path.
inline Args* MakeDownloadArgs(const std::wstring& resultFilePath, const std::wstring& uri,
                              const std::wstring& mimeType) {
  Args* args = MakeArgs(DownloadArgsTable(), "download_args", __uuidof(ICoreWebView2DownloadStartingEventArgs));
  args->resultFilePath = resultFilePath;
  args->operation = MakeArgs(DownloadOperationTable(), "download_operation", __uuidof(ICoreWebView2DownloadOperation));
  args->operation->uri = uri;
  args->operation->mimeType = mimeType;
  args->operation->resultFilePath = resultFilePath;
  return args;
}
inline Args* MakeResourceArgs() {
  return MakeArgs(ResourceArgsTable(), "resource_args", __uuidof(ICoreWebView2WebResourceRequestedEventArgs));
}

// ---------------------------------------------------------------- completed navigations and failed processes

inline HRESULT STDMETHODCALLTYPE CompletedGetIsSuccess(void* self, BOOL* value) {
  Log("navigation_completed_args", "get_IsSuccess");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->isSuccess;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE CompletedGetWebErrorStatus(void* self, int* value) {
  Log("navigation_completed_args", "get_WebErrorStatus");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->webErrorStatus;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE CompletedGetNavigationId(void* self, UINT64* id) {
  Log("navigation_completed_args", "get_NavigationId");
  if (id == nullptr) return E_POINTER;
  *id = Self<Args>(self)->navigationId;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE CompletedGetHttpStatusCode(void* self, int* value) {
  Log("navigation_completed_args", "get_HttpStatusCode");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->httpStatusCode;
  return S_OK;
}

inline const Slot* NavigationCompletedArgsTable() {
  using I = ICoreWebView2NavigationCompletedEventArgs2;
  static const Table<7> table = Table<7>()
                                    .Set(&I::get_IsSuccess, &CompletedGetIsSuccess)
                                    .Set(&I::get_WebErrorStatus, &CompletedGetWebErrorStatus)
                                    .Set(&I::get_NavigationId, &CompletedGetNavigationId)
                                    .Set(&I::get_HttpStatusCode, &CompletedGetHttpStatusCode);
  return table.slots.data();
}

inline HRESULT STDMETHODCALLTYPE FailedGetKind(void* self, int* value) {
  Log("process_failed_args", "get_ProcessFailedKind");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->processFailedKind;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE FailedGetReason(void* self, int* value) {
  Log("process_failed_args", "get_Reason");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->processFailedReason;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE FailedGetExitCode(void* self, int* value) {
  Log("process_failed_args", "get_ExitCode");
  if (value == nullptr) return E_POINTER;
  *value = Self<Args>(self)->exitCode;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE FailedGetDescription(void* self, LPWSTR* value) {
  Log("process_failed_args", "get_ProcessDescription");
  return CopyOut(Self<Args>(self)->processDescription, value);
}

// The frames of a failed frame renderer (slot 7) are not offered: neither
// runtime tells a frame's renderer apart.
inline const Slot* ProcessFailedArgsTable() {
  using I = ICoreWebView2ProcessFailedEventArgs2;
  static const Table<8> table = Table<8>()
                                    .Set(&I::get_ProcessFailedKind, &FailedGetKind)
                                    .Set(&I::get_Reason, &FailedGetReason)
                                    .Set(&I::get_ExitCode, &FailedGetExitCode)
                                    .Set(&I::get_ProcessDescription, &FailedGetDescription);
  return table.slots.data();
}

// What a finished top-level navigation says; the log line is the same for both runtimes.
struct NavigationOutcome {
  std::uint64_t id = 0;
  bool success = true;
  int webErrorStatus = 0;
  int httpStatusCode = 0;
};

inline Args* MakeNavigationCompletedArgs(const NavigationOutcome& outcome) {
  Args* args = Make<Args>(
      NavigationCompletedArgsTable(), "navigation_completed_args",
      {__uuidof(ICoreWebView2NavigationCompletedEventArgs), __uuidof(ICoreWebView2NavigationCompletedEventArgs2)});
  args->navigationId = outcome.id;
  args->isSuccess = outcome.success ? TRUE : FALSE;
  args->webErrorStatus = outcome.webErrorStatus;
  args->httpStatusCode = outcome.httpStatusCode;
  return args;
}

inline void LogNavigationCompleted(const std::string& uri, const NavigationOutcome& outcome) {
  Log("outcome", "navigation_completed", Json::array({uri}),
      {{"navigation_id", outcome.id},
       {"success", outcome.success},
       {"web_error_status", outcome.webErrorStatus},
       {"http_status", outcome.httpStatusCode}});
}

struct ProcessFailure {
  int kind = 0;    // COREWEBVIEW2_PROCESS_FAILED_KIND
  int reason = 0;  // COREWEBVIEW2_PROCESS_FAILED_REASON
  int exitCode = 0;
  std::string description;
};

inline Args* MakeProcessFailedArgs(const ProcessFailure& failure) {
  Args* args =
      Make<Args>(ProcessFailedArgsTable(), "process_failed_args",
                 {__uuidof(ICoreWebView2ProcessFailedEventArgs), __uuidof(ICoreWebView2ProcessFailedEventArgs2)});
  args->processFailedKind = failure.kind;
  args->processFailedReason = failure.reason;
  args->exitCode = failure.exitCode;
  args->processDescription = Wide(failure.description);
  return args;
}

inline void LogProcessFailed(const ProcessFailure& failure) {
  Log("outcome", "process_failed", Json::array({failure.description}),
      {{"kind", failure.kind}, {"reason", failure.reason}, {"exit_code", failure.exitCode}});
}

// ---------------------------------------------------------------- settings

constexpr const char* kSettingNames[] = {"IsScriptEnabled",
                                         "IsWebMessageEnabled",
                                         "AreDefaultScriptDialogsEnabled",
                                         "IsStatusBarEnabled",
                                         "AreDevToolsEnabled",
                                         "AreDefaultContextMenusEnabled",
                                         "AreHostObjectsAllowed",
                                         "IsZoomControlEnabled",
                                         "IsBuiltInErrorPageEnabled",
                                         "UserAgent",
                                         "AreBrowserAcceleratorKeysEnabled"};
enum SettingIndex : size_t {
  kScriptEnabled = 0,
  kWebMessageEnabled = 1,
  kUserAgent = 9,
  kAccelerators = 10,
};

struct Settings : Object {
  std::array<BOOL, 11> flags{TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, FALSE, TRUE};
  std::wstring userAgent = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) ScriptedRuntime";
  int hiddenPdfToolbarItems = 0;
  // Told after each change, so an engine can apply it; empty: stored only.
  std::function<void(size_t index)> changed;
};

template <size_t Index>
HRESULT STDMETHODCALLTYPE SettingGet(void* self, BOOL* value) {
  Log("settings", ("get_" + std::string(kSettingNames[Index])).c_str());
  if (value == nullptr) return E_POINTER;
  *value = Self<Settings>(self)->flags[Index];
  return S_OK;
}

template <size_t Index>
HRESULT STDMETHODCALLTYPE SettingPut(void* self, BOOL value) {
  Log("settings", ("put_" + std::string(kSettingNames[Index])).c_str(), Json::array({value}));
  Settings* settings = Self<Settings>(self);
  settings->flags[Index] = value;
  if (settings->changed) settings->changed(Index);
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE SettingGetUserAgent(void* self, LPWSTR* value) {
  Log("settings", "get_UserAgent");
  return CopyOut(Self<Settings>(self)->userAgent, value);
}

inline HRESULT STDMETHODCALLTYPE SettingPutUserAgent(void* self, LPCWSTR value) {
  Log("settings", "put_UserAgent", Json::array({Text(value)}));
  Settings* settings = Self<Settings>(self);
  settings->userAgent = value != nullptr ? value : L"";
  if (settings->changed) settings->changed(kUserAgent);
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE SettingGetHiddenPdfToolbarItems(void* self, int* value) {
  Log("settings", "get_HiddenPdfToolbarItems");
  if (value == nullptr) return E_POINTER;
  *value = Self<Settings>(self)->hiddenPdfToolbarItems;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE SettingPutHiddenPdfToolbarItems(void* self, int value) {
  Log("settings", "put_HiddenPdfToolbarItems", Json::array({value}));
  Self<Settings>(self)->hiddenPdfToolbarItems = value;
  return S_OK;
}

template <size_t Index, class Get, class Put>
void SetFlag(Table<35>& table, Get get, Put put) {
  table.Set(get, &SettingGet<Index>).Set(put, &SettingPut<Index>);
}

// Through Settings7 (Settings4 to 6 are not offered on their own).
inline const Slot* SettingsTable() {
  static const Table<35> table = [] {
    using I = ICoreWebView2Settings7;
    Table<35> built;
    SetFlag<0>(built, &I::get_IsScriptEnabled, &I::put_IsScriptEnabled);
    SetFlag<1>(built, &I::get_IsWebMessageEnabled, &I::put_IsWebMessageEnabled);
    SetFlag<2>(built, &I::get_AreDefaultScriptDialogsEnabled, &I::put_AreDefaultScriptDialogsEnabled);
    SetFlag<3>(built, &I::get_IsStatusBarEnabled, &I::put_IsStatusBarEnabled);
    SetFlag<4>(built, &I::get_AreDevToolsEnabled, &I::put_AreDevToolsEnabled);
    SetFlag<5>(built, &I::get_AreDefaultContextMenusEnabled, &I::put_AreDefaultContextMenusEnabled);
    SetFlag<6>(built, &I::get_AreHostObjectsAllowed, &I::put_AreHostObjectsAllowed);
    SetFlag<7>(built, &I::get_IsZoomControlEnabled, &I::put_IsZoomControlEnabled);
    SetFlag<8>(built, &I::get_IsBuiltInErrorPageEnabled, &I::put_IsBuiltInErrorPageEnabled);
    built.Set(&I::get_UserAgent, &SettingGetUserAgent).Set(&I::put_UserAgent, &SettingPutUserAgent);
    SetFlag<kAccelerators>(built, &I::get_AreBrowserAcceleratorKeysEnabled, &I::put_AreBrowserAcceleratorKeysEnabled);
    built.Set(&I::get_HiddenPdfToolbarItems, &SettingGetHiddenPdfToolbarItems)
        .Set(&I::put_HiddenPdfToolbarItems, &SettingPutHiddenPdfToolbarItems);
    return built;
  }();
  return table.slots.data();
}

inline Settings* MakeSettings(bool offerSettings3, bool offerSettings7 = true) {
  std::vector<GUID> iids = {__uuidof(ICoreWebView2Settings), __uuidof(ICoreWebView2Settings2)};
  if (offerSettings3) iids.push_back(__uuidof(ICoreWebView2Settings3));
  if (offerSettings3 && offerSettings7) {
    iids.insert(iids.end(), {__uuidof(ICoreWebView2Settings4), __uuidof(ICoreWebView2Settings5),
                             __uuidof(ICoreWebView2Settings6), __uuidof(ICoreWebView2Settings7)});
  }
  return Make<Settings>(SettingsTable(), "settings", std::move(iids));
}

// ---------------------------------------------------------------- the view's interface chain

// ICoreWebView2 through _21, and _22 when offered (its filters with source kinds).
inline std::vector<GUID> ViewIids(bool offer22) {
  std::vector<GUID> iids = {__uuidof(ICoreWebView2),    __uuidof(ICoreWebView2_2),  __uuidof(ICoreWebView2_3),
                            __uuidof(ICoreWebView2_4),  __uuidof(ICoreWebView2_5),  __uuidof(ICoreWebView2_6),
                            __uuidof(ICoreWebView2_7),  __uuidof(ICoreWebView2_8),  __uuidof(ICoreWebView2_9),
                            __uuidof(ICoreWebView2_10), __uuidof(ICoreWebView2_11), __uuidof(ICoreWebView2_12),
                            __uuidof(ICoreWebView2_13), __uuidof(ICoreWebView2_14), __uuidof(ICoreWebView2_15),
                            __uuidof(ICoreWebView2_16), __uuidof(ICoreWebView2_17), __uuidof(ICoreWebView2_18),
                            __uuidof(ICoreWebView2_19), __uuidof(ICoreWebView2_20), __uuidof(ICoreWebView2_21)};
  if (offer22) iids.push_back(__uuidof(ICoreWebView2_22));
  return iids;
}

// ICoreWebView2Controller, and 2 to 4 when offered.
inline std::vector<GUID> ControllerIids(bool offer2, bool offer4) {
  std::vector<GUID> iids = {__uuidof(ICoreWebView2Controller)};
  if (offer2 || offer4) iids.push_back(__uuidof(ICoreWebView2Controller2));
  if (offer4) {
    iids.push_back(__uuidof(ICoreWebView2Controller3));
    iids.push_back(__uuidof(ICoreWebView2Controller4));
  }
  return iids;
}

// Reads a text property of the player's options object, e.g.
// OptionText(options, &ICoreWebView2EnvironmentOptions::get_Language).
inline Json OptionText(IUnknown* options, HRESULT (STDMETHODCALLTYPE ICoreWebView2EnvironmentOptions::*get)(LPWSTR*)) {
  if (options == nullptr) return nullptr;
  Microsoft::WRL::ComPtr<ICoreWebView2EnvironmentOptions> typed;
  if (FAILED(options->QueryInterface(IID_PPV_ARGS(&typed))) || !typed) return "no_options_interface";
  LPWSTR value = nullptr;
  const HRESULT hr = (typed.Get()->*get)(&value);
  const UniqueCoTaskMem<wchar_t> owned(value);
  return SUCCEEDED(hr) ? Text(value) : Json(HexResult(hr));
}

// ---------------------------------------------------------------- what both runtimes' views share

// The head of both runtimes' views: the player's handlers of each event.
struct ViewBase : Object {
  std::array<std::map<std::int64_t, ForeignRef>, kEventKinds> handlers;
  std::int64_t nextToken = 1;
  // The code a registration call ("add_NavigationStarting") fails with
  // instead of registering, or S_OK; none fails when null.
  HRESULT (*refusal)(const std::string& call) = nullptr;
};

template <EventKind Kind>
HRESULT STDMETHODCALLTYPE ViewAdd(void* self, void* handler, EventRegistrationToken* token) {
  ViewBase* view = Self<ViewBase>(self);
  const std::string call = "add_" + std::string(std::get<Kind>(kEvents).name);
  Log("view", call.c_str());
  if (view->refusal != nullptr) {
    if (const HRESULT failure = view->refusal(call); FAILED(failure)) return failure;
  }
  if (handler == nullptr || token == nullptr) return E_INVALIDARG;
  token->value = view->nextToken++;
  view->handlers[Kind].emplace(token->value, ForeignRef(handler));
  return S_OK;
}

template <EventKind Kind>
HRESULT STDMETHODCALLTYPE ViewRemove(void* self, EventRegistrationToken token) {
  Log("view", ("remove_" + std::string(std::get<Kind>(kEvents).name)).c_str(), Json::array({token.value}));
  Self<ViewBase>(self)->handlers[Kind].erase(token.value);
  return S_OK;
}

// Calls every handler of one event with the same arguments, in registration order.
template <EventKind Kind>
void Raise(ViewBase* view, Args* args) {
  const ObjectPtr<ViewBase> hold = Share(view);
  const auto handlers = view->handlers[Kind];  // a handler may remove itself
  for (const auto& entry : handlers) CallForeign(std::get<Kind>(kEvents).invoke, entry.second.get(), view, args);
}

// ICoreWebView2 through ICoreWebView2_22.
constexpr size_t kViewSlots = 125;

template <size_t... Kinds>
void SetEventSlots(Table<kViewSlots>& table, std::index_sequence<Kinds...>) {
  (table.Set(std::get<Kinds>(kEvents).add, &ViewAdd<static_cast<EventKind>(Kinds)>)
       .Set(std::get<Kinds>(kEvents).remove, &ViewRemove<static_cast<EventKind>(Kinds)>),
   ...);
}

// A view's vtable with the event registrations in it; each runtime adds the rest.
inline Table<kViewSlots> ViewTableWithEvents() {
  Table<kViewSlots> table;
  SetEventSlots(table, std::make_index_sequence<kEventKinds>());
  return table;
}

// ---------------------------------------------------------------- what both runtimes' controllers share

struct ControllerBase : Object {
  HWND parent = nullptr;
  RECT bounds{};
  BOOL visible = TRUE;
  BOOL allowExternalDrop = TRUE;
  COREWEBVIEW2_COLOR background{255, 255, 255, 255};
  bool closed = false;
};

inline Json RectJson(const RECT& rect) { return Json::array({rect.left, rect.top, rect.right, rect.bottom}); }

inline HRESULT STDMETHODCALLTYPE ControllerGetVisible(void* self, BOOL* visible) {
  Log("controller", "get_IsVisible");
  if (visible == nullptr) return E_POINTER;
  *visible = Self<ControllerBase>(self)->visible;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ControllerGetBounds(void* self, RECT* bounds) {
  Log("controller", "get_Bounds");
  if (bounds == nullptr) return E_POINTER;
  *bounds = Self<ControllerBase>(self)->bounds;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ControllerGetBackground(void* self, COREWEBVIEW2_COLOR* color) {
  Log("controller", "get_DefaultBackgroundColor");
  if (color == nullptr) return E_POINTER;
  *color = Self<ControllerBase>(self)->background;
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE ControllerGetDrop(void* self, BOOL* value) {
  Log("controller", "get_AllowExternalDrop");
  if (value == nullptr) return E_POINTER;
  *value = Self<ControllerBase>(self)->allowExternalDrop;
  return S_OK;
}

// Neither runtime's page accepts drops at all, so this is kept only.
inline HRESULT STDMETHODCALLTYPE ControllerPutDrop(void* self, BOOL value) {
  Log("controller", "put_AllowExternalDrop", Json::array({value}));
  Self<ControllerBase>(self)->allowExternalDrop = value;
  return S_OK;
}

// ICoreWebView2Controller through Controller4.
constexpr size_t kControllerSlots = 38;

// A controller's vtable with the plain properties in it; each runtime adds the rest.
inline Table<kControllerSlots> ControllerTableWithProperties() {
  using I = ICoreWebView2Controller4;
  Table<kControllerSlots> table;
  table.Set(&I::get_IsVisible, &ControllerGetVisible)
      .Set(&I::get_Bounds, &ControllerGetBounds)
      .Set(&I::get_DefaultBackgroundColor, &ControllerGetBackground)
      .Set(&I::get_AllowExternalDrop, &ControllerGetDrop)
      .Set(&I::put_AllowExternalDrop, &ControllerPutDrop);
  return table;
}

// ---------------------------------------------------------------- what both runtimes' environments share

inline HRESULT STDMETHODCALLTYPE EnvironmentAddNewVersion(void*, void* handler, EventRegistrationToken* token) {
  Log("environment", "add_NewBrowserVersionAvailable");
  if (handler == nullptr || token == nullptr) return E_INVALIDARG;
  token->value = 1;  // never raised, so the handler is not kept
  return S_OK;
}

inline HRESULT STDMETHODCALLTYPE EnvironmentRemoveNewVersion(void*, EventRegistrationToken token) {
  Log("environment", "remove_NewBrowserVersionAvailable", Json::array({token.value}));
  return S_OK;
}

// An environment's vtable around a runtime's own controller creation and version.
template <class Create, class Version>
Table<8> EnvironmentTableWith(Create create, Version version) {
  using I = ICoreWebView2Environment;
  return Table<8>()
      .Set(&I::CreateCoreWebView2Controller, create)
      .Set(&I::CreateWebResourceResponse, &EnvironmentCreateResponse)
      .Set(&I::get_BrowserVersionString, version)
      .Set(&I::add_NewBrowserVersionAvailable, &EnvironmentAddNewVersion)
      .Set(&I::remove_NewBrowserVersionAvailable, &EnvironmentRemoveNewVersion);
}

// The first line of every environment creation, with what the player's
// options ask for.
inline void LogEnvironmentCall(BOOL first, int runtimeType, PCWSTR userDataFolder, IUnknown* options,
                               const Json& extra = Json::object()) {
  using I = ICoreWebView2EnvironmentOptions;
  Json fields = {{"additional_browser_arguments", OptionText(options, &I::get_AdditionalBrowserArguments)},
                 {"target_compatible_browser_version", OptionText(options, &I::get_TargetCompatibleBrowserVersion)}};
  fields.update(extra);
  Log("runtime", "CreateWebViewEnvironmentWithOptionsInternal",
      Json::array({first, runtimeType, Text(userDataFolder), options != nullptr}), fields);
}

}  // namespace runtime_objects
