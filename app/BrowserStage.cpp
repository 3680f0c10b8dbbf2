#include "app/BrowserStage.h"

#include <memory>

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

namespace {

// The owners of the two browser hosts; the window state only points at them.
std::unique_ptr<WebViewHost::WebView> playerHost;
std::unique_ptr<WebViewHost::WebView> initHost;

}  // namespace

bool InitializePlayerBrowser(HWND window, const std::wstring& dataFolder) {
  playerHost = std::make_unique<WebViewHost::WebView>();
  GetWindowState().playerView = playerHost.get();
  InstallPlayerCallbacks(*playerHost, window);
  return playerHost->Initialize(window, dataFolder);
}

bool InitializeInitBrowser(HWND window, const std::wstring& dataFolder) {
  initHost = std::make_unique<WebViewHost::WebView>();
  GetWindowState().initView = initHost.get();
  InstallInitCallbacks(*initHost, window);
  return initHost->Initialize(window, dataFolder);
}

void ResizePlayerBrowser(int width, int height) {
  if (auto* view = GetWindowState().playerView) view->Resize(width, height);
}

void ResizeInitBrowser(int width, int height) {
  if (auto* view = GetWindowState().initView) view->Resize(width, height);
}

void DeleteBrowserHosts() {
  WindowState& windows = GetWindowState();
  windows.playerView = nullptr;
  playerHost.reset();
  windows.initView = nullptr;
  initHost.reset();
}
