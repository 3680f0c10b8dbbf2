#include "player/WindowShow.h"

#include "common/AppState.h"
#include "common/Seams.h"

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

void EndForFailedBrowser(HWND owner, const wchar_t* text) {
  seams::ShowMessageBox(owner, text, L"Error", MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
  seams::EndProcess(1);
}
