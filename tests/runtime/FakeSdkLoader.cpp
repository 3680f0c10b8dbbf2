// Test DLL standing in for the engine SDK's own loader, WebView2Loader.dll,
// when an application ships it beside its executable. It answers with a
// version no installed engine has and records how it was called, so a test
// can tell that our loader handed the work to it.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "runtime/BrowserLoader.h"
#include "tests/runtime/FakeSdkLoader.h"

namespace {

fake_sdk_loader::Seen seen{};

void Copy(wchar_t (&target)[MAX_PATH], PCWSTR text) {
  target[0] = L'\0';
  if (text != nullptr) wcsncpy_s(target, text, _TRUNCATE);
}

}  // namespace

STDAPI GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder, LPWSTR* versionInfo) {
  ++seen.versionCalls;
  seen.folderGiven = browserExecutableFolder != nullptr;
  Copy(seen.folder, browserExecutableFolder);
  if (versionInfo == nullptr) return E_POINTER;
  const size_t bytes = sizeof(fake_sdk_loader::kVersion);
  *versionInfo = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
  if (*versionInfo == nullptr) return E_OUTOFMEMORY;
  std::memcpy(*versionInfo, fake_sdk_loader::kVersion, bytes);
  return S_OK;
}

// Answers at once through the handler with a code no engine reports, and
// returns another, so the caller can tell both apart from ours.
STDAPI CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler) {
  ++seen.createCalls;
  seen.folderGiven = browserExecutableFolder != nullptr;
  Copy(seen.folder, browserExecutableFolder);
  Copy(seen.userDataFolder, userDataFolder);
  seen.options = environmentOptions;
  seen.handler = environmentCreatedHandler;
  seen.invokeResult = environmentCreatedHandler != nullptr
                          ? environmentCreatedHandler->Invoke(HRESULT_FROM_WIN32(ERROR_CANCELLED), nullptr)
                          : E_POINTER;
  return S_FALSE;
}

extern "C" const void* FakeSdkLoaderSeen() { return &seen; }
