#include "player/WindowShow.h"

#include "common/AppState.h"

void ShowOverSplash(HWND window) {
  WindowState& windows = GetWindowState();
  if (windows.splashWindow != nullptr) {
    ::DestroyWindow(windows.splashWindow);
    windows.splashWindow = nullptr;
  }
  ::ShowWindow(window, SW_SHOW);
  ::SetForegroundWindow(window);
  ::SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::UpdateWindow(window);
}
