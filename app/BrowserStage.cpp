#include "app/BrowserStage.h"

#include <memory>
#include <utility>

#include "app/Paths.h"
#include "common/AppState.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Seams.h"
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
// From the runtime stage until a host takes it over or the start ends without one.
std::unique_ptr<WebViewHost::StartedEnvironment> startedEnvironment;

}  // namespace

std::wstring BrowserDataFolder() {
  // Chosen once, by the early start when there is one: its choice probes
  // the disk, and the window's host must take the same folder.
  if (startedEnvironment) return startedEnvironment->userDataFolder();
  const AppState& app = GetAppState();
  return GetAppDataFolder(app.isElevated, app.productName) + L"\\WebView2Data";
}

void StartBrowserEnvironment() {
  startedEnvironment = WebViewHost::StartedEnvironment::Start(BrowserDataFolder());
  // Whatever ends the process from here on lets the engine go first.
  seams::SetBeforeEndProcess(&ReleaseBrowserEnvironment);
}

void ReleaseBrowserEnvironment() noexcept {
  try {
    startedEnvironment.reset();
  }
  MIRAVELL_CATCH_LOG()
}

bool InitializePlayerBrowser(HWND window, const std::wstring& dataFolder) {
  playerHost = std::make_unique<WebViewHost::WebView>();
  WebViewHost::CurrentHosts().player = playerHost.get();
  InstallPlayerCallbacks(*playerHost, window);
  return playerHost->Initialize(window, dataFolder, std::move(startedEnvironment));
}

bool InitializeInitBrowser(HWND window, const std::wstring& dataFolder) {
  initHost = std::make_unique<WebViewHost::WebView>();
  WebViewHost::CurrentHosts().init = initHost.get();
  InstallInitCallbacks(*initHost, window);
  return initHost->Initialize(window, dataFolder, std::move(startedEnvironment));
}

void ResizePlayerBrowser(int width, int height) {
  if (auto* view = WebViewHost::CurrentHosts().player) view->Resize(width, height);
}

void ResizeInitBrowser(int width, int height) {
  if (auto* view = WebViewHost::CurrentHosts().init) view->Resize(width, height);
}

void DeleteBrowserHosts() {
  ReleaseBrowserEnvironment();
  WebViewHost::Hosts& hosts = WebViewHost::CurrentHosts();
  hosts.player = nullptr;
  playerHost.reset();
  hosts.init = nullptr;
  initHost.reset();
}
