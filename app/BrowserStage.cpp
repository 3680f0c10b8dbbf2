#include "app/BrowserStage.h"

#include "common/AppState.h"
#include "common/Handles.h"
#include "player/InitScreen.h"
#include "player/PlayerWindow.h"
#include "player/WebViewHost.h"
#include "runtime/BrowserLoader.h"
#include "runtime/BrowserRuntime.h"

bool EnsureBrowserRuntimeStage() {
  LPWSTR version = nullptr;
  if (SUCCEEDED(GetAvailableCoreWebView2BrowserVersionString(nullptr, &version)) && version != nullptr) {
    UniqueCoTaskMem<wchar_t> release(version);
    return true;
  }
  return runtime::EnsureBrowserRuntime();
}

bool InitializePlayerBrowser(HWND window, const std::wstring& dataFolder) {
  auto* view = new WebViewHost::WebView();
  GetWindowState().playerView = view;
  InstallPlayerCallbacks(*view, window);
  return view->Initialize(window, dataFolder);
}

bool InitializeInitBrowser(HWND window, const std::wstring& dataFolder) {
  auto* view = new WebViewHost::WebView();
  GetWindowState().initView = view;
  InstallInitCallbacks(*view, window);
  return view->Initialize(window, dataFolder);
}

void ResizePlayerBrowser(int width, int height) {
  if (auto* view = GetWindowState().playerView) view->Resize(width, height);
}

void ResizeInitBrowser(int width, int height) {
  if (auto* view = GetWindowState().initView) view->Resize(width, height);
}

void DeleteBrowserHosts() {
  WindowState& windows = GetWindowState();
  delete windows.playerView;
  windows.playerView = nullptr;
  delete windows.initView;
  windows.initView = nullptr;
}
