#include "tests/runtime/FakeRuntime.h"

#include <gtest/gtest.h>

#include "common/Handles.h"
#include "tests/support/TestSupport.h"

namespace fake_runtime {

std::wstring ScratchFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder = std::wstring(temp) + L"miravell-runtime-" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring ClientDllPath() { return ScratchFolder() + kVersion + L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll"; }

std::wstring InstallFiles() {
  const std::wstring version = ScratchFolder() + kVersion;
  ::CreateDirectoryW(version.c_str(), nullptr);
  ::CreateDirectoryW((version + L"\\EBWebView").c_str(), nullptr);
  ::CreateDirectoryW((version + L"\\EBWebView\\x64").c_str(), nullptr);
  // Once loaded the DLL stays (the loader pins it), so a copy in place is kept.
  if (::GetFileAttributesW(ClientDllPath().c_str()) == INVALID_FILE_ATTRIBUTES) {
    EXPECT_TRUE(
        ::CopyFileW(testing_support::BuildProgram(L"fake_browser_client.dll").c_str(), ClientDllPath().c_str(), FALSE));
  }
  return version;
}

namespace {
// The user's registration, or the machine's in the view its updater writes.
struct Place {
  HKEY root;
  REGSAM view;
};
const Place kUser{HKEY_CURRENT_USER, 0};
const Place kMachine{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};

void WriteString(const Place& place, const wchar_t* keyPath, const wchar_t* name, const std::wstring& value) {
  UniqueRegKey key;
  ASSERT_EQ(
      ::RegCreateKeyExW(place.root, keyPath, 0, nullptr, 0, KEY_SET_VALUE | place.view, nullptr, key.put(), nullptr),
      ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

void DeleteKey(const Place& place, const wchar_t* keyPath) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(place.root, keyPath, 0, KEY_ALL_ACCESS | place.view, key.put()) == ERROR_SUCCESS) {
    ::RegDeleteTreeW(key.get(), nullptr);
  }
  key.reset();
  ::RegDeleteKeyExW(place.root, keyPath, place.view, 0);
}

std::optional<std::wstring> ReadString(const Place& place, const wchar_t* keyPath, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof(buffer);
  const DWORD flags = RRF_RT_REG_SZ | (place.view == KEY_WOW64_32KEY ? RRF_SUBKEY_WOW6432KEY : 0);
  if (::RegGetValueW(place.root, keyPath, name, flags, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}
}  // namespace

void Register(const std::wstring& folder) { WriteString(kUser, kClientStateKey, L"EBWebView", folder); }

void RegisterInstalledVersion(const std::wstring& version) { WriteString(kUser, kClientsKey, L"pv", version); }

void RegisterForMachine(const std::wstring& folder) { WriteString(kMachine, kClientStateKey, L"EBWebView", folder); }

void Unregister() {
  for (const Place& place : {kUser, kMachine}) {
    DeleteKey(place, kClientStateKey);
    DeleteKey(place, kClientsKey);
  }
  ::SetEnvironmentVariableW(kFolderVariable, nullptr);
}

SavedRegistration::SavedRegistration()
    : folder_(ReadString(kUser, kClientStateKey, L"EBWebView")),
      installedVersion_(ReadString(kUser, kClientsKey, L"pv")),
      machineFolder_(ReadString(kMachine, kClientStateKey, L"EBWebView")),
      machineInstalledVersion_(ReadString(kMachine, kClientsKey, L"pv")) {}

SavedRegistration::~SavedRegistration() {
  Unregister();
  if (folder_) Register(*folder_);
  if (installedVersion_) RegisterInstalledVersion(*installedVersion_);
  if (machineFolder_) RegisterForMachine(*machineFolder_);
  if (machineInstalledVersion_) WriteString(kMachine, kClientsKey, L"pv", *machineInstalledVersion_);
}

const LastCall* LastCallRecord() {
  HMODULE module = ::GetModuleHandleW(ClientDllPath().c_str());
  if (module == nullptr) return nullptr;
  using Fn = const void* (*)();
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, "FakeClientLastCall")));
  return fn == nullptr ? nullptr : static_cast<const LastCall*>(fn());
}

}  // namespace fake_runtime
