#pragma once
// The COM objects both browser runtimes of the development tools hand the
// player (the scripted one for the tests, the Chromium-backed one for people):
// objects whose vtables are arrays of plain function pointers, so that each
// slot number is written down once, next to its function, straight from the
// ABI table; a mismatch with the player's own declarations shows up as a
// wrong or unknown_slot call in the log instead of being hidden by a shared
// header. Also here: the call log, the event arguments, request and response
// objects and the settings, which behave the same whatever engine is behind
// them, and the window that runs completions later on the caller's thread.
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
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/Handles.h"

namespace runtime_objects {

// Ordered so that log lines read object, call, args.
using Json = nlohmann::ordered_json;

// The view's events, as both runtimes number them in their handler tables
// and name them in their logs ("add_" + name).
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
constexpr const char* kEventNames[] = {"NavigationStarting",  "WebMessageReceived",   "PermissionRequested",
                                       "NewWindowRequested",  "WebResourceRequested", "DownloadStarting",
                                       "NavigationCompleted", "ProcessFailed"};

// Every slot is stored as this type; the table-building code casts back to
// the real signature only at the call site, which the language allows.
using Slot = void (*)();

struct Token {
  std::int64_t value;
};

struct Color {
  BYTE a;
  BYTE r;
  BYTE g;
  BYTE b;
};

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

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" as the ABI table writes them.
inline GUID Iid(const char* text) {
  GUID guid{};
  if (FAILED(IIDFromString(Wide(text).c_str(), &guid))) guid = GUID{};
  return guid;
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

// A handler passed in by the player: slots 1 and 2 keep it alive, slot 3 is Invoke.
struct Foreign {
  const Slot* vtbl;
};

inline void AddRefForeign(void* object) {
  if (object == nullptr) return;
  using Fn = ULONG(STDMETHODCALLTYPE*)(void*);
  reinterpret_cast<Fn>(static_cast<Foreign*>(object)->vtbl[1])(object);
}

inline void ReleaseForeign(void* object) {
  if (object == nullptr) return;
  using Fn = ULONG(STDMETHODCALLTYPE*)(void*);
  reinterpret_cast<Fn>(static_cast<Foreign*>(object)->vtbl[2])(object);
}

inline HRESULT InvokeResult(void* handler, HRESULT hr, void* result) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, void*);
  return reinterpret_cast<Fn>(static_cast<Foreign*>(handler)->vtbl[3])(handler, hr, result);
}

inline HRESULT InvokeText(void* handler, HRESULT hr, const wchar_t* text) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, const wchar_t*);
  return reinterpret_cast<Fn>(static_cast<Foreign*>(handler)->vtbl[3])(handler, hr, text);
}

inline HRESULT InvokeEvent(void* handler, void* sender, void* args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, void*, void*);
  return reinterpret_cast<Fn>(static_cast<Foreign*>(handler)->vtbl[3])(handler, sender, args);
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

// A vtable of exactly N entries: IUnknown, then every slot unused until set.
template <size_t N>
struct Table {
  std::array<Slot, N> slots = UnusedTable<N>(std::make_index_sequence<N>());
  Table() {
    slots[0] = AsSlot(&QueryInterfaceSlot);
    slots[1] = AsSlot(&AddRefSlot);
    slots[2] = AsSlot(&ReleaseSlot);
  }
  template <class Fn>
  Table& Set(size_t slot, Fn fn) {
    slots.at(slot) = AsSlot(fn);
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

inline const GUID kIidRequestHeaders = Iid("{e86cac0e-5523-465c-b536-8fb9fc8c8c60}");
inline const GUID kIidResponseHeaders = Iid("{03c5ff5a-9b45-4a88-881c-89a9f328619c}");
inline const GUID kIidRequest = Iid("{97055cd4-512c-4264-8b5f-e3f446cea6a5}");
inline const GUID kIidResponse = Iid("{aafcc94f-fa27-48fd-97df-830ef75aaec9}");

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

// Response headers: 3 AppendHeader, 4 Contains, 5 GetHeader.
inline HRESULT STDMETHODCALLTYPE ResponseHeadersAppend(void* self, LPCWSTR name, LPCWSTR value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "AppendHeader", Json::array({Text(name), Text(value)}));
  if (name == nullptr || value == nullptr) return E_INVALIDARG;
  headers->entries.emplace_back(name, value);
  headers->set[Utf8(name)] = Utf8(value);
  return S_OK;
}

inline const Slot* RequestHeadersTable() {
  static const Table<9> table =
      Table<9>().Set(3, &HeadersGet).Set(5, &HeadersContains).Set(6, &HeadersSet).Set(7, &HeadersRemove);
  return table.slots.data();
}

inline const Slot* ResponseHeadersTable() {
  static const Table<8> table = Table<8>().Set(3, &ResponseHeadersAppend).Set(4, &HeadersContains).Set(5, &HeadersGet);
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
  static const Table<10> table =
      Table<10>().Set(3, &RequestGetUri).Set(5, &RequestGetMethod).Set(9, &RequestGetHeaders);
  return table.slots.data();
}

inline Request* MakeRequest(const std::wstring& uri) {
  Request* request = Make<Request>(RequestTable(), "request", {kIidRequest});
  request->uri = uri;
  request->headers = Make<Headers>(RequestHeadersTable(), "request_headers", {kIidRequestHeaders});
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
  static const Table<10> table = Table<10>()
                                     .Set(5, &ResponseGetHeaders)
                                     .Set(6, &ResponseGetStatus)
                                     .Set(7, &ResponsePutStatus)
                                     .Set(8, &ResponseGetReason)
                                     .Set(9, &ResponsePutReason);
  return table.slots.data();
}

// ICoreWebView2Environment::CreateWebResourceResponse, the same for both runtimes.
inline HRESULT STDMETHODCALLTYPE EnvironmentCreateResponse(void*, IStream* content, int status, LPCWSTR reason,
                                                           LPCWSTR headerLines, void** out) {
  if (out == nullptr) return E_POINTER;
  Response* response = Make<Response>(ResponseTable(), "response", {kIidResponse});
  response->status = status;
  response->reason = reason != nullptr ? reason : L"";
  response->hasContent = content != nullptr;
  response->content = content;
  response->headers = Make<Headers>(ResponseHeadersTable(), "response_headers", {kIidResponseHeaders});
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

// 3 get_Uri, 4 get_IsUserInitiated, 5 get_IsRedirected, 7 get_Cancel,
// 8 put_Cancel, 9 get_NavigationId.
inline const Slot* NavigationArgsTable() {
  static const Table<10> table = Table<10>()
                                     .Set(3, &ArgsGetUri)
                                     .Set(4, &ArgsUserInitiated)
                                     .Set(5, &ArgsRedirected)
                                     .Set(7, &NavigationGetCancel)
                                     .Set(8, &NavigationPutCancel)
                                     .Set(9, &NavigationGetId);
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
  static const Table<6> table = Table<6>().Set(3, &MessageGetSource).Set(4, &MessageGetJson).Set(5, &MessageTryString);
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

// 3 get_Uri, 4 get_PermissionKind, 5 get_IsUserInitiated, 6 get_State, 7 put_State.
inline const Slot* PermissionArgsTable() {
  static const Table<9> table = Table<9>()
                                    .Set(3, &ArgsGetUri)
                                    .Set(4, &PermissionGetKind)
                                    .Set(5, &ArgsUserInitiated)
                                    .Set(6, &PermissionGetState)
                                    .Set(7, &PermissionPutState);
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

// 3 get_Uri, 6 put_Handled, 7 get_Handled, 8 get_IsUserInitiated.
inline const Slot* NewWindowArgsTable() {
  static const Table<11> table = Table<11>()
                                     .Set(3, &ArgsGetUri)
                                     .Set(6, &NewWindowPutHandled)
                                     .Set(7, &NewWindowGetHandled)
                                     .Set(8, &ArgsUserInitiated);
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

// 3 get_Request, 4 get_Response, 5 put_Response, 7 get_ResourceContext.
inline const Slot* ResourceArgsTable() {
  static const Table<8> table = Table<8>()
                                    .Set(3, &ResourceGetRequest)
                                    .Set(4, &ResourceGetResponse)
                                    .Set(5, &ResourcePutResponse)
                                    .Set(7, &ResourceGetContext);
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

// 3 get_DownloadOperation, 4 get_Cancel, 5 put_Cancel, 6 get_ResultFilePath.
inline const Slot* DownloadArgsTable() {
  static const Table<11> table = Table<11>()
                                     .Set(3, &DownloadGetOperation)
                                     .Set(4, &DownloadGetCancel)
                                     .Set(5, &DownloadPutCancel)
                                     .Set(6, &DownloadGetResultFilePath);
  return table.slots.data();
}

// 9 get_Uri, 11 get_MimeType, 15 get_ResultFilePath; the progress events and
// controls are not offered.
inline const Slot* DownloadOperationTable() {
  static const Table<22> table =
      Table<22>().Set(9, &ArgsGetUri).Set(11, &DownloadGetMimeType).Set(15, &DownloadGetResultFilePath);
  return table.slots.data();
}

inline Args* MakeArgs(const Slot* vtbl, const char* name, const char* iid) {
  return Make<Args>(vtbl, name, {Iid(iid)});
}

inline Args* MakeNavigationArgs() {
  return MakeArgs(NavigationArgsTable(), "navigation_args", "{5b495469-e119-438a-9b18-7604f25f2e49}");
}
inline Args* MakeMessageArgs() {
  return MakeArgs(MessageArgsTable(), "message_args", "{0f99a40c-e962-4207-9e92-e3d542eff849}");
}
inline Args* MakePermissionArgs() {
  return MakeArgs(PermissionArgsTable(), "permission_args", "{973ae2ef-ff18-4894-8fb2-3c758f046810}");
}
inline Args* MakeNewWindowArgs() {
  return MakeArgs(NewWindowArgsTable(), "new_window_args", "{34acb11c-fc37-4418-9132-f9c21d1eafb9}");
}
// A download about to start, its operation carrying the same address, type and path.
inline Args* MakeDownloadArgs(const std::wstring& resultFilePath, const std::wstring& uri,
                              const std::wstring& mimeType) {
  Args* args = MakeArgs(DownloadArgsTable(), "download_args", "{e99bbe21-43e9-4544-a732-282764eafa60}");
  args->resultFilePath = resultFilePath;
  args->operation = MakeArgs(DownloadOperationTable(), "download_operation", "{3d6b6cf2-afe1-44c7-a995-c65117714336}");
  args->operation->uri = uri;
  args->operation->mimeType = mimeType;
  args->operation->resultFilePath = resultFilePath;
  return args;
}
inline Args* MakeResourceArgs() {
  return MakeArgs(ResourceArgsTable(), "resource_args", "{453e667f-12c7-49d4-be6d-ddbe7956f57a}");
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

// 3 get_IsSuccess, 4 get_WebErrorStatus, 5 get_NavigationId; Args2: 6 get_HttpStatusCode.
inline const Slot* NavigationCompletedArgsTable() {
  static const Table<7> table = Table<7>()
                                    .Set(3, &CompletedGetIsSuccess)
                                    .Set(4, &CompletedGetWebErrorStatus)
                                    .Set(5, &CompletedGetNavigationId)
                                    .Set(6, &CompletedGetHttpStatusCode);
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

// Only a frame's own renderer failing has frames to list; neither runtime tells those apart.
inline HRESULT STDMETHODCALLTYPE FailedGetFrameInfos(void*, void** value) {
  Log("process_failed_args", "get_FrameInfosForFailedProcess");
  if (value != nullptr) *value = nullptr;
  return E_NOTIMPL;
}

// 3 get_ProcessFailedKind; Args2: 4 get_Reason, 5 get_ExitCode, 6 get_ProcessDescription,
// 7 get_FrameInfosForFailedProcess.
inline const Slot* ProcessFailedArgsTable() {
  static const Table<8> table = Table<8>()
                                    .Set(3, &FailedGetKind)
                                    .Set(4, &FailedGetReason)
                                    .Set(5, &FailedGetExitCode)
                                    .Set(6, &FailedGetDescription)
                                    .Set(7, &FailedGetFrameInfos);
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
  Args* args =
      Make<Args>(NavigationCompletedArgsTable(), "navigation_completed_args",
                 {Iid("{30d68b7d-20d9-4752-a9ca-ec8448fbb5c1}"), Iid("{fdf8b738-ee1e-4db2-a329-8d7d7b74d792}")});
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
                 {Iid("{8155a9a4-1474-4a86-8cae-151b0fa6b8ca}"), Iid("{4dab9422-46fa-4c3e-a5d2-41d2071d3680}")});
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

// Settings 3-20 are nine getter/setter pairs in name order; Settings2 adds
// the user agent at 21-22, Settings3 the accelerator keys at 23-24, and
// Settings7 the PDF viewer's hidden buttons at 33-34 (4 to 6 are not offered
// on their own).
template <size_t... I>
void SetFlagSlots(Table<35>& table, std::index_sequence<I...>) {
  (table.Set(3 + 2 * I, &SettingGet<I>).Set(4 + 2 * I, &SettingPut<I>), ...);
}

inline const Slot* SettingsTable() {
  static const Table<35> table = [] {
    Table<35> built;
    SetFlagSlots(built, std::make_index_sequence<9>());
    built.Set(21, &SettingGetUserAgent).Set(22, &SettingPutUserAgent);
    built.Set(23, &SettingGet<kAccelerators>).Set(24, &SettingPut<kAccelerators>);
    built.Set(33, &SettingGetHiddenPdfToolbarItems).Set(34, &SettingPutHiddenPdfToolbarItems);
    return built;
  }();
  return table.slots.data();
}

inline Settings* MakeSettings(bool offerSettings3, bool offerSettings7 = true) {
  std::vector<GUID> iids = {Iid("{e562e4f0-d7fa-43ac-8d71-c05150499f00}"),
                            Iid("{ee9a0f68-f46c-4e32-ac23-ef8cac224d2a}")};
  if (offerSettings3) iids.push_back(Iid("{fdb5ab74-af33-4854-84f0-0a631deb5eba}"));
  if (offerSettings3 && offerSettings7) {
    for (const char* text : {"{cb56846c-4168-4d53-b04f-03b6d6796ff2}", "{183e7052-1d03-43a0-ab99-98e043b66b39}",
                             "{11cb3acd-9bc8-43b8-83bf-f40753714f87}", "{488dc902-35ef-42d2-bc7d-94b65c4bc49c}"}) {
      iids.push_back(Iid(text));
    }
  }
  return Make<Settings>(SettingsTable(), "settings", std::move(iids));
}

// ---------------------------------------------------------------- the view's interface chain

// ICoreWebView2 through _21, and _22 when offered (its filters with source kinds).
inline std::vector<GUID> ViewIids(bool offer22) {
  static const char* const chain[] = {
      "{76eceacb-0462-4d94-ac83-423a6793775e}", "{9e8f0cf8-e670-4b5e-b2bc-73e061e3184c}",
      "{a0d6df20-3b92-416d-aa0c-437a9c727857}", "{20d02d59-6df2-42dc-bd06-f98a694b1302}",
      "{bedb11b8-d63c-11eb-b8bc-0242ac130003}", "{499aadac-d92c-4589-8a75-111bfc167795}",
      "{79c24d83-09a3-45ae-9418-487f32a58740}", "{e9632730-6e1e-43ab-b7b8-7b2c9e62e094}",
      "{4d7b2eab-9fdc-468d-b998-a9260b5ed651}", "{b1690564-6f5a-4983-8e48-31d1143fecdb}",
      "{0be78e56-c193-4051-b943-23b460c08bdb}", "{35d69927-bcfa-4566-9349-6b3e0d154cac}",
      "{f75f09a8-667e-4983-88d6-c8773f315e84}", "{6daa4f10-4a90-4753-8898-77c5df534165}",
      "{517b2d1d-7dae-4a66-a4f4-10352ffb9518}", "{0eb34dc9-9f91-41e1-8639-95cd5943906b}",
      "{702e75d4-fd44-434d-9d70-1a68a6b1192a}", "{7a626017-28be-49b2-b865-3ba2b3522d90}",
      "{6921f954-79b0-437f-a997-c85811897c68}", "{b4bc1926-7305-11ee-b962-0242ac120002}",
      "{c4980dea-587b-43b9-8143-3ef3bf552d95}"};
  std::vector<GUID> iids;
  for (const char* text : chain) iids.push_back(Iid(text));
  if (offer22) iids.push_back(Iid("{db75dfc7-a857-4632-a398-6969dde26c0a}"));
  return iids;
}

// ICoreWebView2Controller, and 2 to 4 when offered.
inline std::vector<GUID> ControllerIids(bool offer2, bool offer4) {
  std::vector<GUID> iids = {Iid("{4d00c0d1-9434-4eb6-8078-8697a560334f}")};
  if (offer2 || offer4) iids.push_back(Iid("{c979903e-d4ca-4228-92eb-47ee3fa96eab}"));
  if (offer4) {
    iids.push_back(Iid("{f9614724-5d2b-41dc-aef7-73d62b51543b}"));
    iids.push_back(Iid("{97d418d5-a426-4e49-a151-e1a10f327d9e}"));
  }
  return iids;
}

inline const GUID kIidEnvironment = Iid("{b96d755e-0319-4e92-a296-23436f46a1fc}");
inline const GUID kIidEnvironmentOptions = Iid("{2fde08a8-1e9a-4766-8c05-95a9ceb9d1c5}");

// Reads a string property of the player's options object (slot given by the
// ABI table: 3 AdditionalBrowserArguments, 5 Language, 7 TargetCompatibleBrowserVersion).
inline Json OptionText(IUnknown* options, size_t slot) {
  if (options == nullptr) return nullptr;
  void* typed = nullptr;
  if (FAILED(options->QueryInterface(kIidEnvironmentOptions, &typed)) || typed == nullptr) {
    return "no_options_interface";
  }
  const ForeignRef held = ForeignRef::Adopt(typed);
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, LPWSTR*);
  LPWSTR value = nullptr;
  const HRESULT hr = reinterpret_cast<Fn>(static_cast<Foreign*>(typed)->vtbl[slot])(typed, &value);
  const UniqueCoTaskMem<wchar_t> owned(value);
  return SUCCEEDED(hr) ? Text(value) : Json(HexResult(hr));
}

}  // namespace runtime_objects
