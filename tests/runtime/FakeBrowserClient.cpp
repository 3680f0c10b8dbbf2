// Test DLL standing in for the engine's client DLL: records how the loader
// called it and reports a failure back through the handler, as an engine that
// cannot start would.
#include <windows.h>

#include <cwchar>

#include "runtime/WebView2Interfaces.h"
#include "tests/runtime/FakeRuntime.h"

namespace {

// Read by the tests through FakeClientLastCall, in the layout they expect.
fake_runtime::LastCall lastCall{};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    BOOL first, int runtimeType, PCWSTR userDataFolder, IUnknown* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  ++lastCall.calls;
  lastCall.first = first;
  lastCall.runtimeType = runtimeType;
  lastCall.userDataFolder[0] = L'\0';
  if (userDataFolder != nullptr) wcsncpy_s(lastCall.userDataFolder, userDataFolder, _TRUNCATE);
  lastCall.options = options;
  lastCall.handler = handler;
  lastCall.invokeResult = handler != nullptr ? handler->Invoke(E_FAIL, nullptr) : E_POINTER;
  return S_OK;
}

extern "C" __declspec(dllexport) const void* FakeClientLastCall() { return &lastCall; }
