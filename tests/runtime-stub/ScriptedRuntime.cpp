// A browser runtime that only pretends: it answers the player's calls through
// vtables laid out slot by slot from the ABI table, records every call in a
// log, and raises the events a test asks for. Never shipped.
//
// The vtables are arrays of plain function pointers rather than C++ classes
// so that each slot number is written down once, next to its function, and a
// mismatch with the player's own declarations shows up as a wrong call in
// the log instead of being hidden by a shared header.
#include <windows.h>
#include <objbase.h>

#include <nlohmann/json.hpp>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Ordered so that log lines read object, call, args.
using Json = nlohmann::ordered_json;

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

std::string Utf8(const wchar_t* text) {
  if (text == nullptr) return {};
  const int chars = static_cast<int>(wcslen(text));
  if (chars == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, chars, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, chars, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), chars);
  return out;
}

Json Text(const wchar_t* text) { return text == nullptr ? Json(nullptr) : Json(Utf8(text)); }

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[2048];
  const DWORD length = GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return {};
  return std::wstring(buffer, length);
}

// Returned strings belong to the caller, who frees them with CoTaskMemFree.
HRESULT CopyOut(const std::wstring& text, LPWSTR* out) {
  if (out == nullptr) return E_POINTER;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  memcpy(copy, text.c_str(), bytes);
  *out = copy;
  return S_OK;
}

std::string HexResult(HRESULT hr) {
  char buffer[16];
  snprintf(buffer, sizeof buffer, "0x%08lX", static_cast<unsigned long>(hr));
  return buffer;
}

bool ParseGuid(const char* text, GUID& guid) {
  unsigned long d1 = 0;
  unsigned int d2 = 0, d3 = 0, b[8] = {};
  if (sscanf(text, "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
             &b[6], &b[7]) != 11) {
    return false;
  }
  guid.Data1 = static_cast<unsigned long>(d1);
  guid.Data2 = static_cast<unsigned short>(d2);
  guid.Data3 = static_cast<unsigned short>(d3);
  for (int i = 0; i < 8; ++i) guid.Data4[i] = static_cast<unsigned char>(b[i]);
  return true;
}

GUID Iid(const char* text) {
  GUID guid{};
  ParseGuid(text, guid);
  return guid;
}

// ---------------------------------------------------------------- script and log

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
  bool canGoBack = false;
  std::wstring version = L"129.0.2792.45";
  // Registration calls ("add_NavigationStarting", "AddWebResourceRequestedFilter"...)
  // that fail with the given code instead of registering.
  std::map<std::string, HRESULT> failingCalls;
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
  script.canGoBack = json.value("can_go_back", false);
  if (json.contains("version") && json["version"].is_string())
    script.version = Wide(json["version"].get<std::string>());
  if (json.contains("failing_calls") && json["failing_calls"].is_object()) {
    for (const auto& [call, result] : json["failing_calls"].items()) script.failingCalls[call] = ResultValue(result);
  }
  return script;
}

std::mutex logLock;

void Log(const char* object, const char* call, Json args = Json::array(), Json extra = nullptr) {
  const std::wstring path = EnvironmentValue(L"MIRAVELL_RUNTIME_LOG");
  if (path.empty()) return;
  Json line = {{"object", object}, {"call", call}, {"args", std::move(args)}};
  if (extra.is_object()) line.update(extra);
  const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  std::lock_guard<std::mutex> guard(logLock);
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
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

void AddRefForeign(void* object) {
  if (object == nullptr) return;
  using Fn = ULONG(STDMETHODCALLTYPE*)(void*);
  reinterpret_cast<Fn>(static_cast<Foreign*>(object)->vtbl[1])(object);
}

void ReleaseForeign(void* object) {
  if (object == nullptr) return;
  using Fn = ULONG(STDMETHODCALLTYPE*)(void*);
  reinterpret_cast<Fn>(static_cast<Foreign*>(object)->vtbl[2])(object);
}

HRESULT InvokeResult(void* handler, HRESULT hr, void* result) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, void*);
  return reinterpret_cast<Fn>(static_cast<Foreign*>(handler)->vtbl[3])(handler, hr, result);
}

HRESULT InvokeText(void* handler, HRESULT hr, const wchar_t* text) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, HRESULT, const wchar_t*);
  return reinterpret_cast<Fn>(static_cast<Foreign*>(handler)->vtbl[3])(handler, hr, text);
}

HRESULT InvokeEvent(void* handler, void* sender, void* args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, void*, void*);
  return reinterpret_cast<Fn>(static_cast<Foreign*>(handler)->vtbl[3])(handler, sender, args);
}

void AddRefObject(Object* object) { object->refs.fetch_add(1); }

void ReleaseObject(Object* object) {
  if (object->refs.fetch_sub(1) == 1) object->destroy(object);
}

HRESULT STDMETHODCALLTYPE QueryInterfaceSlot(void* self, REFIID riid, void** out) {
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

ULONG STDMETHODCALLTYPE AddRefSlot(void* self) { return static_cast<Object*>(self)->refs.fetch_add(1) + 1; }

ULONG STDMETHODCALLTYPE ReleaseSlot(void* self) {
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

// Posts work to the thread that called into the runtime, the way the real
// runtime completes its calls later on the caller's thread.
constexpr UINT kRunTask = WM_APP + 17;
constexpr UINT_PTR kCommandTimer = 1;
HWND postWindow = nullptr;
constexpr wchar_t kPostClass[] = L"MiravellScriptedRuntimePost";
Script loadedScript;
bool scriptLoaded = false;
size_t environmentCreations = 0;

void PollCommands();

LRESULT CALLBACK PostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
  if (message == WM_TIMER && wParam == kCommandTimer) {
    try {
      PollCommands();
    } catch (...) {
      Log("runtime", "command_failed");
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HINSTANCE ModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&PostWindowProc), &module);
  return module;
}

void EnsurePostWindow() {
  if (postWindow != nullptr) return;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &PostWindowProc;
  windowClass.hInstance = ModuleHandle();
  windowClass.lpszClassName = kPostClass;
  RegisterClassW(&windowClass);
  postWindow = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               windowClass.hInstance, nullptr);
  if (!EnvironmentValue(L"MIRAVELL_RUNTIME_COMMANDS").empty()) SetTimer(postWindow, kCommandTimer, 100, nullptr);
}

// ---------------------------------------------------------------- the page surface

// What a person looking at the screen sees of the engine: a child window over
// the controller's bounds that names what the view was told to show (there is
// no page to render). Its text is the window text.
constexpr wchar_t kPageClass[] = L"MiravellScriptedRuntimePage";

LRESULT CALLBACK PageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PAINT) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    RECT area{};
    GetClientRect(window, &area);
    HBRUSH background = CreateSolidBrush(RGB(18, 18, 18));
    FillRect(dc, &area, background);
    DeleteObject(background);
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(220, 220, 220));
    HGDIOBJ font = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    InflateRect(&area, -24, -24);
    DrawTextW(dc, text.c_str(), -1, &area, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, font);
    EndPaint(window, &paint);
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

void Later(std::function<void()> work) {
  EnsurePostWindow();
  auto* task = new std::function<void()>(std::move(work));
  if (!PostMessageW(postWindow, kRunTask, 0, reinterpret_cast<LPARAM>(task))) delete task;
}

// As Later, but not before ms have passed (the wait runs on a thread of its
// own; the work still runs on the thread that owns the post window).
void LaterAfter(int ms, std::function<void()> work) {
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

const Script& CurrentScript() {
  if (!scriptLoaded) {
    loadedScript = LoadScript();
    scriptLoaded = true;
  }
  return loadedScript;
}

// ---------------------------------------------------------------- headers, request, response

const GUID kIidRequestHeaders = Iid("{e86cac0e-5523-465c-b536-8fb9fc8c8c60}");
const GUID kIidResponseHeaders = Iid("{03c5ff5a-9b45-4a88-881c-89a9f328619c}");
const GUID kIidRequest = Iid("{97055cd4-512c-4264-8b5f-e3f446cea6a5}");
const GUID kIidResponse = Iid("{aafcc94f-fa27-48fd-97df-830ef75aaec9}");

// Header names compare without regard to case, as in HTTP.
bool SameName(const std::wstring& known, const wchar_t* name) {
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

HRESULT STDMETHODCALLTYPE HeadersGet(void* self, LPCWSTR name, LPWSTR* value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "GetHeader", Json::array({Text(name)}));
  auto* entry = headers->Find(name);
  if (entry == nullptr) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
  return CopyOut(entry->second, value);
}

HRESULT STDMETHODCALLTYPE HeadersContains(void* self, LPCWSTR name, BOOL* value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "Contains", Json::array({Text(name)}));
  if (value == nullptr) return E_POINTER;
  *value = headers->Find(name) != nullptr ? TRUE : FALSE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE HeadersSet(void* self, LPCWSTR name, LPCWSTR value) {
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

HRESULT STDMETHODCALLTYPE HeadersRemove(void* self, LPCWSTR name) {
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
HRESULT STDMETHODCALLTYPE ResponseHeadersAppend(void* self, LPCWSTR name, LPCWSTR value) {
  Headers* headers = Self<Headers>(self);
  Log(headers->name, "AppendHeader", Json::array({Text(name), Text(value)}));
  if (name == nullptr || value == nullptr) return E_INVALIDARG;
  headers->entries.emplace_back(name, value);
  headers->set[Utf8(name)] = Utf8(value);
  return S_OK;
}

const Slot* RequestHeadersTable() {
  static const Table<9> table =
      Table<9>().Set(3, &HeadersGet).Set(5, &HeadersContains).Set(6, &HeadersSet).Set(7, &HeadersRemove);
  return table.slots.data();
}

const Slot* ResponseHeadersTable() {
  static const Table<8> table = Table<8>().Set(3, &ResponseHeadersAppend).Set(4, &HeadersContains).Set(5, &HeadersGet);
  return table.slots.data();
}

// Parses "Name: value" lines, the form CreateWebResourceResponse takes.
void ParseHeaderLines(const wchar_t* text, Headers& headers) {
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

HRESULT STDMETHODCALLTYPE RequestGetUri(void* self, LPWSTR* uri) {
  Log("request", "get_Uri");
  return CopyOut(Self<Request>(self)->uri, uri);
}

HRESULT STDMETHODCALLTYPE RequestGetMethod(void* self, LPWSTR* method) {
  Log("request", "get_Method");
  return CopyOut(Self<Request>(self)->method, method);
}

HRESULT STDMETHODCALLTYPE RequestGetHeaders(void* self, void** headers) {
  Log("request", "get_Headers");
  if (headers == nullptr) return E_POINTER;
  Request* request = Self<Request>(self);
  AddRefObject(request->headers);
  *headers = request->headers;
  return S_OK;
}

const Slot* RequestTable() {
  static const Table<10> table =
      Table<10>().Set(3, &RequestGetUri).Set(5, &RequestGetMethod).Set(9, &RequestGetHeaders);
  return table.slots.data();
}

struct Response : Object {
  int status = 0;
  std::wstring reason;
  bool hasContent = false;
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

HRESULT STDMETHODCALLTYPE ResponseGetHeaders(void* self, void** headers) {
  Log("response", "get_Headers");
  if (headers == nullptr) return E_POINTER;
  Response* response = Self<Response>(self);
  AddRefObject(response->headers);
  *headers = response->headers;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ResponseGetStatus(void* self, int* status) {
  Log("response", "get_StatusCode");
  if (status == nullptr) return E_POINTER;
  *status = Self<Response>(self)->status;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ResponsePutStatus(void* self, int status) {
  Log("response", "put_StatusCode", Json::array({status}));
  Self<Response>(self)->status = status;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ResponseGetReason(void* self, LPWSTR* reason) {
  Log("response", "get_ReasonPhrase");
  return CopyOut(Self<Response>(self)->reason, reason);
}

HRESULT STDMETHODCALLTYPE ResponsePutReason(void* self, LPCWSTR reason) {
  Log("response", "put_ReasonPhrase", Json::array({Text(reason)}));
  Self<Response>(self)->reason = reason != nullptr ? reason : L"";
  return S_OK;
}

const Slot* ResponseTable() {
  static const Table<10> table = Table<10>()
                                     .Set(5, &ResponseGetHeaders)
                                     .Set(6, &ResponseGetStatus)
                                     .Set(7, &ResponsePutStatus)
                                     .Set(8, &ResponseGetReason)
                                     .Set(9, &ResponsePutReason);
  return table.slots.data();
}

// ---------------------------------------------------------------- event arguments

struct Args : Object {
  std::wstring uri;
  std::wstring message;  // the JSON text of a web message
  bool messageIsString = false;
  BOOL cancel = FALSE;
  BOOL handled = FALSE;
  int permissionKind = 0;
  int permissionState = 0;
  int resourceContext = 0;
  Request* request = nullptr;
  Response* response = nullptr;
  ~Args() {
    if (request != nullptr) ReleaseObject(request);
    if (response != nullptr) ReleaseObject(response);
  }
};

HRESULT STDMETHODCALLTYPE ArgsGetUri(void* self, LPWSTR* uri) {
  Args* args = Self<Args>(self);
  Log(args->name, "get_Uri");
  return CopyOut(args->uri, uri);
}

HRESULT STDMETHODCALLTYPE ArgsUserInitiated(void* self, BOOL* value) {
  Log(static_cast<Object*>(self)->name, "get_IsUserInitiated");
  if (value == nullptr) return E_POINTER;
  *value = TRUE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ArgsFalse(void* self, BOOL* value) {
  Log(static_cast<Object*>(self)->name, "get_IsRedirected");
  if (value == nullptr) return E_POINTER;
  *value = FALSE;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE NavigationGetCancel(void* self, BOOL* cancel) {
  Log("navigation_args", "get_Cancel");
  if (cancel == nullptr) return E_POINTER;
  *cancel = Self<Args>(self)->cancel;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE NavigationPutCancel(void* self, BOOL cancel) {
  Log("navigation_args", "put_Cancel", Json::array({cancel}));
  Self<Args>(self)->cancel = cancel;
  return S_OK;
}

// 3 get_Uri, 4 get_IsUserInitiated, 5 get_IsRedirected, 7 get_Cancel, 8 put_Cancel.
const Slot* NavigationArgsTable() {
  static const Table<10> table = Table<10>()
                                     .Set(3, &ArgsGetUri)
                                     .Set(4, &ArgsUserInitiated)
                                     .Set(5, &ArgsFalse)
                                     .Set(7, &NavigationGetCancel)
                                     .Set(8, &NavigationPutCancel);
  return table.slots.data();
}

HRESULT STDMETHODCALLTYPE MessageGetSource(void* self, LPWSTR* source) {
  Log("message_args", "get_Source");
  return CopyOut(Self<Args>(self)->uri, source);
}

HRESULT STDMETHODCALLTYPE MessageGetJson(void* self, LPWSTR* json) {
  Log("message_args", "get_WebMessageAsJson");
  return CopyOut(Self<Args>(self)->message, json);
}

// Like the real runtime: only a message posted as a string has a string form.
HRESULT STDMETHODCALLTYPE MessageTryString(void* self, LPWSTR* text) {
  Args* args = Self<Args>(self);
  Log("message_args", "TryGetWebMessageAsString");
  if (text == nullptr) return E_POINTER;
  *text = nullptr;
  if (!args->messageIsString) return E_INVALIDARG;
  const Json parsed = Json::parse(Utf8(args->message.c_str()), nullptr, false);
  if (!parsed.is_string()) return E_INVALIDARG;
  return CopyOut(Wide(parsed.get<std::string>()), text);
}

const Slot* MessageArgsTable() {
  static const Table<6> table = Table<6>().Set(3, &MessageGetSource).Set(4, &MessageGetJson).Set(5, &MessageTryString);
  return table.slots.data();
}

HRESULT STDMETHODCALLTYPE PermissionGetKind(void* self, int* kind) {
  Log("permission_args", "get_PermissionKind");
  if (kind == nullptr) return E_POINTER;
  *kind = Self<Args>(self)->permissionKind;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PermissionGetState(void* self, int* state) {
  Log("permission_args", "get_State");
  if (state == nullptr) return E_POINTER;
  *state = Self<Args>(self)->permissionState;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE PermissionPutState(void* self, int state) {
  Log("permission_args", "put_State", Json::array({state}));
  Self<Args>(self)->permissionState = state;
  return S_OK;
}

// 3 get_Uri, 4 get_PermissionKind, 5 get_IsUserInitiated, 6 get_State, 7 put_State.
const Slot* PermissionArgsTable() {
  static const Table<9> table = Table<9>()
                                    .Set(3, &ArgsGetUri)
                                    .Set(4, &PermissionGetKind)
                                    .Set(5, &ArgsUserInitiated)
                                    .Set(6, &PermissionGetState)
                                    .Set(7, &PermissionPutState);
  return table.slots.data();
}

HRESULT STDMETHODCALLTYPE NewWindowPutHandled(void* self, BOOL handled) {
  Log("new_window_args", "put_Handled", Json::array({handled}));
  Self<Args>(self)->handled = handled;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE NewWindowGetHandled(void* self, BOOL* handled) {
  Log("new_window_args", "get_Handled");
  if (handled == nullptr) return E_POINTER;
  *handled = Self<Args>(self)->handled;
  return S_OK;
}

// 3 get_Uri, 6 put_Handled, 7 get_Handled, 8 get_IsUserInitiated.
const Slot* NewWindowArgsTable() {
  static const Table<11> table = Table<11>()
                                     .Set(3, &ArgsGetUri)
                                     .Set(6, &NewWindowPutHandled)
                                     .Set(7, &NewWindowGetHandled)
                                     .Set(8, &ArgsUserInitiated);
  return table.slots.data();
}

HRESULT STDMETHODCALLTYPE ResourceGetRequest(void* self, void** request) {
  Log("resource_args", "get_Request");
  if (request == nullptr) return E_POINTER;
  Args* args = Self<Args>(self);
  AddRefObject(args->request);
  *request = args->request;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ResourceGetResponse(void* self, void** response) {
  Log("resource_args", "get_Response");
  if (response == nullptr) return E_POINTER;
  Args* args = Self<Args>(self);
  *response = args->response;
  if (args->response != nullptr) AddRefObject(args->response);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ResourcePutResponse(void* self, void* response) {
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

HRESULT STDMETHODCALLTYPE ResourceGetContext(void* self, int* context) {
  Log("resource_args", "get_ResourceContext");
  if (context == nullptr) return E_POINTER;
  *context = Self<Args>(self)->resourceContext;
  return S_OK;
}

// 3 get_Request, 4 get_Response, 5 put_Response, 7 get_ResourceContext.
const Slot* ResourceArgsTable() {
  static const Table<8> table = Table<8>()
                                    .Set(3, &ResourceGetRequest)
                                    .Set(4, &ResourceGetResponse)
                                    .Set(5, &ResourcePutResponse)
                                    .Set(7, &ResourceGetContext);
  return table.slots.data();
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
constexpr size_t kUserAgent = 9;
constexpr size_t kAccelerators = 10;

struct Settings : Object {
  std::array<BOOL, 11> flags{TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, TRUE, FALSE, TRUE};
  std::wstring userAgent = L"Mozilla/5.0 (Windows NT 10.0; Win64; x64) ScriptedRuntime";
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
  Self<Settings>(self)->flags[Index] = value;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE SettingGetUserAgent(void* self, LPWSTR* value) {
  Log("settings", "get_UserAgent");
  return CopyOut(Self<Settings>(self)->userAgent, value);
}

HRESULT STDMETHODCALLTYPE SettingPutUserAgent(void* self, LPCWSTR value) {
  Log("settings", "put_UserAgent", Json::array({Text(value)}));
  Self<Settings>(self)->userAgent = value != nullptr ? value : L"";
  return S_OK;
}

// Settings 3-20 are nine getter/setter pairs in name order; Settings2 adds
// the user agent at 21-22 and Settings3 the accelerator keys at 23-24.
template <size_t... I>
void SetFlagSlots(Table<25>& table, std::index_sequence<I...>) {
  (table.Set(3 + 2 * I, &SettingGet<I>).Set(4 + 2 * I, &SettingPut<I>), ...);
}

const Slot* SettingsTable() {
  static const Table<25> table = [] {
    Table<25> built;
    SetFlagSlots(built, std::make_index_sequence<9>());
    built.Set(21, &SettingGetUserAgent).Set(22, &SettingPutUserAgent);
    built.Set(23, &SettingGet<kAccelerators>).Set(24, &SettingPut<kAccelerators>);
    return built;
  }();
  return table.slots.data();
}

// ---------------------------------------------------------------- the view

enum EventKind { kNavigation, kMessage, kPermission, kNewWindow, kResource, kEventKinds };
constexpr const char* kEventNames[] = {"NavigationStarting", "WebMessageReceived", "PermissionRequested",
                                       "NewWindowRequested", "WebResourceRequested"};

struct View : Object {
  Settings* settings = nullptr;
  std::array<std::map<std::int64_t, void*>, kEventKinds> handlers;
  std::int64_t nextToken = 1;
  std::wstring source = L"about:blank";
  HWND page = nullptr;  // owned by the controller
  int scripts = 0;
  ~View() {
    for (auto& kind : handlers) {
      for (auto& entry : kind) ReleaseForeign(entry.second);
    }
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

HRESULT STDMETHODCALLTYPE ViewNavigate(void* self, LPCWSTR uri) {
  Log("view", "Navigate", Json::array({Text(uri)}));
  if (uri == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  view->source = uri;
  ShowOnPage(view->page, std::wstring(L"Navigated to ") + uri, view->scripts);
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewNavigateToString(void* self, LPCWSTR html) {
  Log("view", "NavigateToString", Json::array({Text(html)}));
  if (html == nullptr) return E_INVALIDARG;
  View* view = Self<View>(self);
  view->source = L"about:blank";
  ShowOnPage(view->page, L"Showing a page made by the host (" + std::to_wstring(wcslen(html)) + L" characters)",
             view->scripts);
  return S_OK;
}

// The code a test made this registration call fail with, or S_OK.
HRESULT ScriptedFailure(const std::string& call) {
  const auto& failing = CurrentScript().failingCalls;
  const auto found = failing.find(call);
  return found == failing.end() ? S_OK : found->second;
}

template <EventKind Kind>
HRESULT STDMETHODCALLTYPE ViewAdd(void* self, void* handler, Token* token) {
  View* view = Self<View>(self);
  const std::string call = "add_" + std::string(kEventNames[Kind]);
  Log("view", call.c_str());
  if (const HRESULT failure = ScriptedFailure(call); FAILED(failure)) return failure;
  if (handler == nullptr || token == nullptr) return E_INVALIDARG;
  AddRefForeign(handler);
  token->value = view->nextToken++;
  view->handlers[Kind][token->value] = handler;
  return S_OK;
}

template <EventKind Kind>
HRESULT STDMETHODCALLTYPE ViewRemove(void* self, Token token) {
  View* view = Self<View>(self);
  Log("view", ("remove_" + std::string(kEventNames[Kind])).c_str(), Json::array({token.value}));
  auto& map = view->handlers[Kind];
  const auto found = map.find(token.value);
  if (found != map.end()) {
    ReleaseForeign(found->second);
    map.erase(found);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewAddScript(void* self, LPCWSTR javaScript, void* handler) {
  Log("view", "AddScriptToExecuteOnDocumentCreated", Json::array({Text(javaScript)}));
  if (javaScript == nullptr) return E_INVALIDARG;
  Self<View>(self)->scripts++;
  if (handler != nullptr) {
    AddRefForeign(handler);
    Later([handler] {
      InvokeText(handler, S_OK, L"{script-1}");
      ReleaseForeign(handler);
    });
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewExecuteScript(void*, LPCWSTR javaScript, void* handler) {
  Log("view", "ExecuteScript", Json::array({Text(javaScript)}));
  if (javaScript == nullptr) return E_INVALIDARG;
  if (handler != nullptr) {
    AddRefForeign(handler);
    Later([handler] {
      InvokeText(handler, S_OK, L"null");
      ReleaseForeign(handler);
    });
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPostJson(void*, LPCWSTR json) {
  Log("view", "PostWebMessageAsJson", Json::array({Text(json)}));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewPostString(void*, LPCWSTR text) {
  Log("view", "PostWebMessageAsString", Json::array({Text(text)}));
  return S_OK;
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

// ICoreWebView2 through ICoreWebView2_22: 125 entries, 123-124 the filters with source kinds.
const Slot* ViewTable() {
  static const Table<125> table = Table<125>()
                                      .Set(3, &ViewGetSettings)
                                      .Set(4, &ViewGetSource)
                                      .Set(5, &ViewNavigate)
                                      .Set(6, &ViewNavigateToString)
                                      .Set(7, &ViewAdd<kNavigation>)
                                      .Set(8, &ViewRemove<kNavigation>)
                                      .Set(23, &ViewAdd<kPermission>)
                                      .Set(24, &ViewRemove<kPermission>)
                                      .Set(27, &ViewAddScript)
                                      .Set(29, &ViewExecuteScript)
                                      .Set(32, &ViewPostJson)
                                      .Set(33, &ViewPostString)
                                      .Set(34, &ViewAdd<kMessage>)
                                      .Set(35, &ViewRemove<kMessage>)
                                      .Set(38, &ViewCanGoBack)
                                      .Set(40, &ViewGoBack)
                                      .Set(44, &ViewAdd<kNewWindow>)
                                      .Set(45, &ViewRemove<kNewWindow>)
                                      .Set(55, &ViewAdd<kResource>)
                                      .Set(56, &ViewRemove<kResource>)
                                      .Set(57, &ViewAddFilter)
                                      .Set(58, &ViewRemoveFilter)
                                      .Set(123, &ViewAddFilterKinds)
                                      .Set(124, &ViewRemoveFilterKinds);
  return table.slots.data();
}

std::vector<GUID> ViewIids(bool offer22) {
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

View* MakeView() {
  const Script& current = CurrentScript();
  View* view = Make<View>(ViewTable(), "view", ViewIids(current.offerView22));
  std::vector<GUID> settingsIids = {Iid("{e562e4f0-d7fa-43ac-8d71-c05150499f00}"),
                                    Iid("{ee9a0f68-f46c-4e32-ac23-ef8cac224d2a}")};
  if (current.offerSettings3) settingsIids.push_back(Iid("{fdb5ab74-af33-4854-84f0-0a631deb5eba}"));
  view->settings = Make<Settings>(SettingsTable(), "settings", std::move(settingsIids));
  return view;
}

// Calls every handler of one event with the same arguments, in registration order.
void Raise(View* view, EventKind kind, Args* args) {
  const auto handlers = view->handlers[kind];  // a handler may remove itself
  for (const auto& entry : handlers) {
    AddRefForeign(entry.second);
    InvokeEvent(entry.second, view, args);
    ReleaseForeign(entry.second);
  }
}

// ---------------------------------------------------------------- the controller

struct Controller : Object {
  View* view = nullptr;
  HWND parent = nullptr;
  RECT bounds{};
  BOOL visible = TRUE;
  BOOL allowExternalDrop = TRUE;
  Color background{255, 255, 255, 255};
  bool closed = false;
  HWND page = nullptr;
  ~Controller() {
    if (page != nullptr && IsWindow(page)) DestroyWindow(page);
    if (view != nullptr) {
      if (currentView == view) currentView = nullptr;
      ReleaseObject(view);
    }
  }
};

Json RectJson(const RECT& rect) { return Json::array({rect.left, rect.top, rect.right, rect.bottom}); }

HRESULT STDMETHODCALLTYPE ControllerGetVisible(void* self, BOOL* visible) {
  Log("controller", "get_IsVisible");
  if (visible == nullptr) return E_POINTER;
  *visible = Self<Controller>(self)->visible;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerPutVisible(void* self, BOOL visible) {
  Log("controller", "put_IsVisible", Json::array({visible}));
  Self<Controller>(self)->visible = visible;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerGetBounds(void* self, RECT* bounds) {
  Log("controller", "get_Bounds");
  if (bounds == nullptr) return E_POINTER;
  *bounds = Self<Controller>(self)->bounds;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerPutBounds(void* self, RECT bounds) {
  Log("controller", "put_Bounds", RectJson(bounds));
  Controller* controller = Self<Controller>(self);
  controller->bounds = bounds;
  if (controller->page != nullptr) {
    MoveWindow(controller->page, bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, TRUE);
  }
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerMoveFocus(void*, int reason) {
  Log("controller", "MoveFocus", Json::array({reason}));
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerNotifyMoved(void*) {
  Log("controller", "NotifyParentWindowPositionChanged");
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerClose(void* self) {
  Controller* controller = Self<Controller>(self);
  Log("controller", "Close");
  controller->closed = true;
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

HRESULT STDMETHODCALLTYPE ControllerGetBackground(void* self, Color* color) {
  Log("controller", "get_DefaultBackgroundColor");
  if (color == nullptr) return E_POINTER;
  *color = Self<Controller>(self)->background;
  return S_OK;
}

// The real runtime accepts only fully transparent or fully opaque colours.
HRESULT STDMETHODCALLTYPE ControllerPutBackground(void* self, Color color) {
  Log("controller", "put_DefaultBackgroundColor", Json::array({color.a, color.r, color.g, color.b}));
  if (color.a != 0 && color.a != 255) return E_INVALIDARG;
  Self<Controller>(self)->background = color;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerGetDrop(void* self, BOOL* value) {
  Log("controller", "get_AllowExternalDrop");
  if (value == nullptr) return E_POINTER;
  *value = Self<Controller>(self)->allowExternalDrop;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ControllerPutDrop(void* self, BOOL value) {
  Log("controller", "put_AllowExternalDrop", Json::array({value}));
  Self<Controller>(self)->allowExternalDrop = value;
  return S_OK;
}

// ICoreWebView2Controller through Controller4: 38 entries.
const Slot* ControllerTable() {
  static const Table<38> table = Table<38>()
                                     .Set(3, &ControllerGetVisible)
                                     .Set(4, &ControllerPutVisible)
                                     .Set(5, &ControllerGetBounds)
                                     .Set(6, &ControllerPutBounds)
                                     .Set(12, &ControllerMoveFocus)
                                     .Set(23, &ControllerNotifyMoved)
                                     .Set(24, &ControllerClose)
                                     .Set(25, &ControllerGetView)
                                     .Set(26, &ControllerGetBackground)
                                     .Set(27, &ControllerPutBackground)
                                     .Set(36, &ControllerGetDrop)
                                     .Set(37, &ControllerPutDrop);
  return table.slots.data();
}

Controller* MakeController(HWND parent) {
  const Script& current = CurrentScript();
  std::vector<GUID> iids = {Iid("{4d00c0d1-9434-4eb6-8078-8697a560334f}")};
  if (current.offerController2 || current.offerController4)
    iids.push_back(Iid("{c979903e-d4ca-4228-92eb-47ee3fa96eab}"));
  if (current.offerController4) {
    iids.push_back(Iid("{f9614724-5d2b-41dc-aef7-73d62b51543b}"));
    iids.push_back(Iid("{97d418d5-a426-4e49-a151-e1a10f327d9e}"));
  }
  Controller* controller = Make<Controller>(ControllerTable(), "controller", std::move(iids));
  controller->parent = parent;
  controller->view = MakeView();
  controller->page = MakePage(parent);
  controller->view->page = controller->page;
  currentView = controller->view;
  return controller;
}

// ---------------------------------------------------------------- the environment

HRESULT STDMETHODCALLTYPE EnvironmentCreateController(void*, HWND parent, void* handler) {
  const Script& current = CurrentScript();
  Log("environment", "CreateCoreWebView2Controller", Json::array({IsWindow(parent) != FALSE}));
  if (handler == nullptr) return E_POINTER;
  if (FAILED(current.controllerSyncFailure)) return current.controllerSyncFailure;
  AddRefForeign(handler);
  const HRESULT result = current.controllerResult;
  Later([handler, parent, result] {
    if (FAILED(result)) {
      Log("environment", "controller_completed", Json::array({HexResult(result)}));
      InvokeResult(handler, result, nullptr);
    } else {
      Controller* controller = MakeController(parent);
      Log("environment", "controller_completed", Json::array({HexResult(S_OK)}));
      InvokeResult(handler, S_OK, controller);
      ReleaseObject(controller);
    }
    ReleaseForeign(handler);
  });
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EnvironmentCreateResponse(void*, IStream* content, int status, LPCWSTR reason,
                                                    LPCWSTR headerLines, void** out) {
  if (out == nullptr) return E_POINTER;
  Response* response = Make<Response>(ResponseTable(), "response", {kIidResponse});
  response->status = status;
  response->reason = reason != nullptr ? reason : L"";
  response->hasContent = content != nullptr;
  response->headers = Make<Headers>(ResponseHeadersTable(), "response_headers", {kIidResponseHeaders});
  ParseHeaderLines(headerLines, *response->headers);
  Log("environment", "CreateWebResourceResponse",
      Json::array({content != nullptr, status, Text(reason), Text(headerLines)}));
  *out = response;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EnvironmentVersion(void*, LPWSTR* version) {
  Log("environment", "get_BrowserVersionString");
  return CopyOut(CurrentScript().version, version);
}

HRESULT STDMETHODCALLTYPE EnvironmentAddNewVersion(void*, void* handler, Token* token) {
  Log("environment", "add_NewBrowserVersionAvailable");
  if (handler == nullptr || token == nullptr) return E_INVALIDARG;
  token->value = 1;  // never raised, so the handler is not kept
  return S_OK;
}

HRESULT STDMETHODCALLTYPE EnvironmentRemoveNewVersion(void*, Token token) {
  Log("environment", "remove_NewBrowserVersionAvailable", Json::array({token.value}));
  return S_OK;
}

const Slot* EnvironmentTable() {
  static const Table<8> table = Table<8>()
                                    .Set(3, &EnvironmentCreateController)
                                    .Set(4, &EnvironmentCreateResponse)
                                    .Set(5, &EnvironmentVersion)
                                    .Set(6, &EnvironmentAddNewVersion)
                                    .Set(7, &EnvironmentRemoveNewVersion);
  return table.slots.data();
}

// Reads a string property of the player's options object (slot given by the ABI table).
Json OptionText(IUnknown* options, size_t slot) {
  if (options == nullptr) return nullptr;
  void* typed = nullptr;
  if (FAILED(options->QueryInterface(Iid("{2fde08a8-1e9a-4766-8c05-95a9ceb9d1c5}"), &typed)) || typed == nullptr) {
    return "no_options_interface";
  }
  using Fn = HRESULT(STDMETHODCALLTYPE*)(void*, LPWSTR*);
  LPWSTR value = nullptr;
  const HRESULT hr = reinterpret_cast<Fn>(static_cast<Foreign*>(typed)->vtbl[slot])(typed, &value);
  Json result = SUCCEEDED(hr) ? Text(value) : Json(HexResult(hr));
  CoTaskMemFree(value);
  ReleaseForeign(typed);
  return result;
}

// ---------------------------------------------------------------- raising events

Args* MakeArgs(const Slot* vtbl, const char* name, const char* iid) { return Make<Args>(vtbl, name, {Iid(iid)}); }

HRESULT RaiseNavigation(const std::wstring& uri, int* cancel) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeArgs(NavigationArgsTable(), "navigation_args", "{5b495469-e119-438a-9b18-7604f25f2e49}");
  args->uri = uri;
  Raise(currentView, kNavigation, args);
  if (cancel != nullptr) *cancel = args->cancel != FALSE ? 1 : 0;
  Log("outcome", "navigation", Json::array({Utf8(uri.c_str())}), {{"cancel", args->cancel != FALSE}});
  ReleaseObject(args);
  return S_OK;
}

HRESULT RaiseMessage(const std::wstring& json, bool isString) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeArgs(MessageArgsTable(), "message_args", "{0f99a40c-e962-4207-9e92-e3d542eff849}");
  args->uri = currentView->source;
  args->message = json;
  args->messageIsString = isString;
  Raise(currentView, kMessage, args);
  Log("outcome", "message", Json::array({Utf8(json.c_str()), isString}));
  ReleaseObject(args);
  return S_OK;
}

HRESULT RaisePermission(int kind, int* state) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeArgs(PermissionArgsTable(), "permission_args", "{973ae2ef-ff18-4894-8fb2-3c758f046810}");
  args->uri = currentView->source;
  args->permissionKind = kind;
  Raise(currentView, kPermission, args);
  if (state != nullptr) *state = args->permissionState;
  Log("outcome", "permission", Json::array({kind}), {{"state", args->permissionState}});
  ReleaseObject(args);
  return S_OK;
}

HRESULT RaiseNewWindow(const std::wstring& uri, int* handled) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeArgs(NewWindowArgsTable(), "new_window_args", "{34acb11c-fc37-4418-9132-f9c21d1eafb9}");
  args->uri = uri;
  Raise(currentView, kNewWindow, args);
  if (handled != nullptr) *handled = args->handled != FALSE ? 1 : 0;
  Log("outcome", "new_window", Json::array({Utf8(uri.c_str())}), {{"handled", args->handled != FALSE}});
  ReleaseObject(args);
  return S_OK;
}

// Returns the outcome as JSON: the headers the player set, the request's
// final headers and the response it put (null when none).
HRESULT RaiseResource(const std::wstring& uri, const Json& headers, int context, Json& outcome) {
  if (currentView == nullptr) return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
  Args* args = MakeArgs(ResourceArgsTable(), "resource_args", "{453e667f-12c7-49d4-be6d-ddbe7956f57a}");
  args->resourceContext = context;
  args->request = Make<Request>(RequestTable(), "request", {kIidRequest});
  args->request->uri = uri;
  args->request->headers = Make<Headers>(RequestHeadersTable(), "request_headers", {kIidRequestHeaders});
  if (headers.is_object()) {
    for (const auto& [name, value] : headers.items()) {
      args->request->headers->entries.emplace_back(Wide(name),
                                                   Wide(value.is_string() ? value.get<std::string>() : value.dump()));
    }
  }
  Raise(currentView, kResource, args);
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
    hr = RaisePermission(command.value("kind", 0), nullptr);
  } else if (kind == "new_window") {
    hr = RaiseNewWindow(uri, nullptr);
  } else if (kind == "resource") {
    Json outcome;
    hr = RaiseResource(uri, command.value("headers", Json::object()), command.value("context", 0), outcome);
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
    EnsurePostWindow();
    Log("runtime", "CreateWebViewEnvironmentWithOptionsInternal",
        Json::array({first, runtimeType, Text(userDataFolder), options != nullptr}),
        {{"additional_browser_arguments", OptionText(options, 3)},
         {"target_compatible_browser_version", OptionText(options, 7)}});
    if (handler == nullptr) return E_POINTER;
    if (current.environmentCallResult != S_OK) return current.environmentCallResult;
    const size_t index = environmentCreations++;
    const HRESULT result = index < current.environmentResults.size() ? current.environmentResults[index] : S_OK;
    if (current.environmentDelayMs < 0) return S_OK;  // a runtime that never answers
    AddRefForeign(handler);
    LaterAfter(current.environmentDelayMs, [handler, result] {
      Log("runtime", "environment_completed", Json::array({HexResult(result)}));
      if (FAILED(result)) {
        InvokeResult(handler, result, nullptr);
      } else {
        Object* environment =
            Make<Object>(EnvironmentTable(), "environment", {Iid("{b96d755e-0319-4e92-a296-23436f46a1fc}")});
        InvokeResult(handler, S_OK, environment);
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
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr && postWindow != nullptr) {
    DestroyWindow(postWindow);
    postWindow = nullptr;
    UnregisterClassW(kPostClass, ModuleHandle());
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

HRESULT ScriptedRuntime_RaisePermission(int kind, int* state) {
  try {
    return RaisePermission(kind, state);
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
