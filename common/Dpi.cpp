#include "common/Dpi.h"

#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/SystemPaths.h"

namespace {

// MONITOR_DPI_TYPE's MDT_EFFECTIVE_DPI: the scale the user chose, which is
// what the system uses for aware windows.
constexpr int kEffectiveDpi = 0;

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
using SetProcessDpiAwarenessContextFn = BOOL(WINAPI*)(HANDLE);

// DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2.
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));

// A system library by its full path, loaded once and kept for the process.
HMODULE User32() {
  static const UniqueModule module(::LoadLibraryExW(SystemFilePath(L"user32.dll").c_str(), nullptr, 0));
  return module.get();
}

HMODULE Shcore() {
  static const UniqueModule module(::LoadLibraryExW(SystemFilePath(L"shcore.dll").c_str(), nullptr, 0));
  return module.get();
}

// A function that older releases lack, or null.
template <typename Fn>
Fn SystemFunction(HMODULE module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

UINT DpiOfWindow(HWND window) {
  static const auto getDpiForWindow = SystemFunction<GetDpiForWindowFn>(User32(), "GetDpiForWindow");
  if (getDpiForWindow == nullptr || window == nullptr) return kDesignDpi;
  const UINT dpi = getDpiForWindow(window);
  return dpi != 0 ? dpi : kDesignDpi;
}

UINT DpiAtPoint(POINT point) {
  static const auto getDpiForMonitor = SystemFunction<GetDpiForMonitorFn>(Shcore(), "GetDpiForMonitor");
  if (getDpiForMonitor == nullptr) return kDesignDpi;
  UINT x = 0;
  UINT y = 0;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(
          getDpiForMonitor(::MonitorFromPoint(point, MONITOR_DEFAULTTOPRIMARY), kEffectiveDpi, &x, &y))) ||
      x == 0) {
    return kDesignDpi;
  }
  return x;
}

UINT PrimaryMonitorDpi() { return DpiAtPoint(POINT{0, 0}); }

void ApplySuggestedDpiRect(HWND window, LPARAM suggested) {
  const auto* rect = reinterpret_cast<const RECT*>(suggested);
  if (rect == nullptr) return;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowPos(window, nullptr, rect->left, rect->top, rect->right - rect->left,
                                                  rect->bottom - rect->top, SWP_NOZORDER | SWP_NOACTIVATE));
}

bool MakeProcessPerMonitorAware() {
  const auto setContext = SystemFunction<SetProcessDpiAwarenessContextFn>(User32(), "SetProcessDpiAwarenessContext");
  return setContext != nullptr && setContext(kPerMonitorAwareV2) != FALSE;
}
