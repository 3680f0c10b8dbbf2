#pragma once
// Every fixed size, position and font height of our windows is designed in
// 96-DPI units. The process is per-monitor DPI aware, so the system no longer
// stretches our bitmaps; we scale those numbers ourselves by the DPI of the
// monitor a window is on.
#include <windows.h>

// The DPI our designed sizes are written for.
inline constexpr UINT kDesignDpi = USER_DEFAULT_SCREEN_DPI;

// A designed length at the given DPI, rounded half away from zero as MulDiv
// rounds. A DPI of 0 (what the system answers for a window it does not know)
// counts as 96, so a failed query never collapses a window to nothing.
constexpr int ScaleForDpi(int value, UINT dpi) noexcept {
  if (dpi == 0 || dpi == kDesignDpi) return value;
  const long long product = static_cast<long long>(value) * dpi;
  const long long half = kDesignDpi / 2;
  return static_cast<int>(product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi));
}

// The DPI of an existing window; 96 where the system has no per-window DPI
// (releases before Windows 10 1607, which the program refuses anyway).
UINT DpiOfWindow(HWND window);

// The DPI of the monitor that holds a point of the screen, for a window that
// does not exist yet; 96 where the system cannot tell.
UINT DpiAtPoint(POINT point);

// The DPI of the primary monitor, where new windows placed by the system and
// the splash appear.
UINT PrimaryMonitorDpi();

// Moves and resizes a window to the rectangle WM_DPICHANGED suggests (its
// lParam): the system's own choice keeps the pointer over the same spot when
// a window is dragged between monitors of different scale.
void ApplySuggestedDpiRect(HWND window, LPARAM suggested);

// For programs without our manifest (the test tools that look at our
// windows): the awareness the manifest gives Miravell.exe, so they see the
// same physical pixels. False where the system has no such setting.
[[nodiscard]] bool MakeProcessPerMonitorAware();
