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
void WriteString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& value) {
  UniqueRegKey key;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}
}  // namespace

void Register(const std::wstring& folder) { WriteString(kClientStateKey, L"EBWebView", folder); }

void RegisterInstalledVersion(const std::wstring& version) { WriteString(kClientsKey, L"pv", version); }

void Unregister() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kClientStateKey);
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kClientStateKey);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, kClientsKey);
  ::RegDeleteKeyW(HKEY_CURRENT_USER, kClientsKey);
  ::SetEnvironmentVariableW(kFolderVariable, nullptr);
}

namespace {
std::optional<std::wstring> ReadString(const wchar_t* keyPath, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof(buffer);
  if (::RegGetValueW(HKEY_CURRENT_USER, keyPath, name, RRF_RT_REG_SZ, nullptr, buffer, &bytes) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}
}  // namespace

SavedRegistration::SavedRegistration()
    : folder_(ReadString(kClientStateKey, L"EBWebView")), installedVersion_(ReadString(kClientsKey, L"pv")) {}

SavedRegistration::~SavedRegistration() {
  Unregister();
  if (folder_) Register(*folder_);
  if (installedVersion_) RegisterInstalledVersion(*installedVersion_);
}

bool MachineRuntimeRegistered() {
  UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                         L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}", 0,
                         KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.put()) == ERROR_SUCCESS;
}

const LastCall* LastCallRecord() {
  HMODULE module = ::GetModuleHandleW(ClientDllPath().c_str());
  if (module == nullptr) return nullptr;
  using Fn = const void* (*)();
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, "FakeClientLastCall")));
  return fn == nullptr ? nullptr : static_cast<const LastCall*>(fn());
}

}  // namespace fake_runtime
