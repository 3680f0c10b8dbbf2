#include "runtime/BrowserLoader.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Log.h"
#include "common/Text.h"
#include "runtime/ProtectedFolder.h"

namespace {

// The evergreen engine's product code with the updater, and where the updater
// records it. These belong to the engine, not to our service.
constexpr wchar_t kClientStateKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kClientsKey[] = L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kFolderValue[] = L"EBWebView";
constexpr wchar_t kInstalledVersionValue[] = L"pv";
constexpr wchar_t kUninstalledVersion[] = L"0.0.0.0";
constexpr wchar_t kFolderVariable[] = L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";
constexpr char kCreateExport[] = "CreateWebViewEnvironmentWithOptionsInternal";

// The engine's DLL must match the architecture of this process.
#if defined(_M_ARM64) || defined(__aarch64__)
constexpr wchar_t kClientDllTail[] = L"\\EBWebView\\arm64\\EmbeddedBrowserWebView.dll";
#elif defined(_M_X64) || defined(__x86_64__)
constexpr wchar_t kClientDllTail[] = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
#else
constexpr wchar_t kClientDllTail[] = L"\\EBWebView\\x86\\EmbeddedBrowserWebView.dll";
#endif

// How the engine's DLL is told where it came from.
constexpr int kInstalledRuntime = 0;
constexpr int kFixedRuntime = 1;

using CreateInternalFn = HRESULT(STDMETHODCALLTYPE*)(BOOL, int, PCWSTR, IUnknown*,
                                                     ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*);

const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

struct Runtime {
  std::wstring clientDll;
  int runtimeType = kInstalledRuntime;
  std::wstring version;
};

bool FileExists(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring ExeFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      const size_t slash = path.find_last_of(L"\\/");
      return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
  const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = ::GetEnvironmentVariableW(name, value.data(), needed);
  if (length == 0 || length >= needed) return std::nullopt;
  value.resize(length);
  return value;
}

std::optional<std::wstring> ReadString(HKEY root, const wchar_t* subKey, const wchar_t* valueName, REGSAM view) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS) return std::nullopt;
  DWORD type = 0;
  DWORD bytes = 0;
  if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &bytes) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.resize(wcsnlen(value.c_str(), bytes / sizeof(wchar_t)));
  return value;
}

std::wstring WithoutTrailingSlashes(std::wstring path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return path;
}

std::optional<std::wstring> FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> data(size);
  if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  return std::to_wstring(HIWORD(info->dwFileVersionMS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionMS)) + L"." +
         std::to_wstring(HIWORD(info->dwFileVersionLS)) + L"." + std::to_wstring(LOWORD(info->dwFileVersionLS));
}

// A fixed-version engine: a folder with the installed engine's layout. A
// relative folder is taken from the executable's.
std::optional<Runtime> FixedRuntime(std::wstring folder) {
  const bool absolute = folder.size() >= 2 && (folder[1] == L':' || (folder[0] == L'\\' && folder[1] == L'\\'));
  if (!absolute) folder = ExeFolder() + L"\\" + folder;
  Runtime runtime{WithoutTrailingSlashes(folder) + kClientDllTail, kFixedRuntime, {}};
  if (!FileExists(runtime.clientDll)) return std::nullopt;
  auto version = FileVersion(runtime.clientDll);
  if (!version) return std::nullopt;
  runtime.version = *version;
  return runtime;
}

// The updater leaves "pv" behind as empty or 0.0.0.0 when the engine was
// removed; a folder value alone (as portable installs write it) still counts.
bool MarkedUninstalled(HKEY root, REGSAM view) {
  const auto installed = ReadString(root, kClientsKey, kInstalledVersionValue, view);
  return installed && (installed->empty() || *installed == kUninstalledVersion);
}

struct RegistryPlace {
  HKEY root;
  REGSAM view;
};

// The updater's registration in one place: the client DLL and the version
// (the name of its folder).
std::optional<Runtime> RegisteredRuntime(const RegistryPlace& place) {
  const auto folder = ReadString(place.root, kClientStateKey, kFolderValue, place.view);
  if (!folder || folder->empty()) return std::nullopt;
  if (MarkedUninstalled(place.root, place.view)) return std::nullopt;
  const std::wstring versionFolder = WithoutTrailingSlashes(*folder);
  Runtime runtime{versionFolder + kClientDllTail, kInstalledRuntime, {}};
  if (!FileExists(runtime.clientDll)) return std::nullopt;
  const size_t slash = versionFolder.find_last_of(L"\\/");
  runtime.version = slash == std::wstring::npos ? versionFolder : versionFolder.substr(slash + 1);
  if (runtime.version.empty()) return std::nullopt;
  return runtime;
}

std::optional<Runtime> InstalledRuntime() {
  const RegistryPlace places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}, {HKEY_CURRENT_USER, 0}};
  for (const auto& place : places) {
    if (auto runtime = RegisteredRuntime(place)) return runtime;
  }
  return std::nullopt;
}

// The machine's registration (the updater writes the 32-bit view; the other
// is as much the administrators' alone), accepted only when no one but
// administrators can change the DLL or any folder on its way. The DLL is then
// loaded by the checked path.
std::optional<Runtime> MachineRuntime() {
  const RegistryPlace places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY}, {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}};
  for (const auto& place : places) {
    auto runtime = RegisteredRuntime(place);
    if (!runtime) continue;
    auto checked = runtime::MachineProtectedFile(runtime->clientDll);
    if (!checked) {
      LogLine("Browser engine refused, not protected: " + WideToUtf8(runtime->clientDll));
      continue;
    }
    runtime->clientDll = *checked;
    return runtime;
  }
  return std::nullopt;
}

std::atomic<int> overriddenSources{-1};

bool ProcessElevated() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return true;
  TOKEN_ELEVATION elevation{};
  DWORD size = sizeof(elevation);
  // When the token cannot be read, the stricter search is the safe one.
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return true;
  return elevation.TokenIsElevated != 0;
}

std::optional<Runtime> FindRuntime(PCWSTR browserExecutableFolder) {
  if (runtime::CurrentEngineSources() == runtime::EngineSources::MachineOnly) return MachineRuntime();
  // As with the SDK's loader, the variable replaces the caller's folder.
  std::optional<std::wstring> folder = EnvironmentValue(kFolderVariable);
  if ((!folder || folder->empty()) && browserExecutableFolder != nullptr && *browserExecutableFolder != L'\0') {
    folder = std::wstring(browserExecutableFolder);
  }
  if (folder && !folder->empty()) return FixedRuntime(*folder);
  return InstalledRuntime();
}

// Loads the engine's DLL by its full path for good: the engine's objects
// outlive every scope of ours, so its code must never be unloaded while the
// process runs. Its own dependencies come from its folder or System32, never
// from ours.
HMODULE LoadPinned(const std::wstring& path) {
  UniqueModule module(
      ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!module) return nullptr;
  HMODULE pinned = nullptr;
  if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(module.get()), &pinned)) {
    return nullptr;
  }
  return module.get();
}

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  // Through void(*)() so the compiler accepts the change of function type.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

HRESULT CopyToTaskMemory(const std::wstring& text, LPWSTR* out) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
  if (copy == nullptr) return E_OUTOFMEMORY;
  std::copy(text.c_str(), text.c_str() + text.size() + 1, copy);
  *out = copy;
  return S_OK;
}

}  // namespace

STDAPI GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder, LPWSTR* versionInfo) {
  if (versionInfo == nullptr) return E_POINTER;
  *versionInfo = nullptr;
  try {
    const auto runtime = FindRuntime(browserExecutableFolder);
    if (!runtime) return kNotFound;
    return CopyToTaskMemory(runtime->version, versionInfo);
  }
  MIRAVELL_CATCH_RETURN(E_OUTOFMEMORY)
}

STDAPI CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
  if (environmentCreatedHandler == nullptr) return E_POINTER;
  try {
    const auto runtime = FindRuntime(browserExecutableFolder);
    if (!runtime) return kNotFound;
    HMODULE client = LoadPinned(runtime->clientDll);
    if (client == nullptr) return HRESULT_FROM_WIN32(::GetLastError());
    auto create = Export<CreateInternalFn>(client, kCreateExport);
    if (create == nullptr) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return create(TRUE, runtime->runtimeType, userDataFolder, environmentOptions, environmentCreatedHandler);
  }
  MIRAVELL_CATCH_RETURN(E_OUTOFMEMORY)
}

namespace runtime {

EngineSources CurrentEngineSources() {
  const int overridden = overriddenSources.load();
  if (overridden >= 0) return static_cast<EngineSources>(overridden);
  return ProcessElevated() ? EngineSources::MachineOnly : EngineSources::Anywhere;
}

void OverrideEngineSources(std::optional<EngineSources> sources) {
  overriddenSources.store(sources ? static_cast<int>(*sources) : -1);
}

}  // namespace runtime
