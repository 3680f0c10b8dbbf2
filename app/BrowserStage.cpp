#include "app/BrowserStage.h"

#include "common/AppState.h"

// The browser layer has not landed: the runtime counts as present, no host is
// created, and both windows stay on their loading text.

bool EnsureBrowserRuntimeStage() { return true; }

bool InitializePlayerBrowser(HWND, const std::wstring&) { return true; }

bool InitializeInitBrowser(HWND, const std::wstring&) { return true; }

void ResizePlayerBrowser(int, int) {}

void ResizeInitBrowser(int, int) {}

void DeleteBrowserHosts() {
  WindowState& windows = GetWindowState();
  windows.playerView = nullptr;
  windows.initView = nullptr;
}
