#include "player/InitScreen.h"
#include "player/NavigationPolicy.h"

#include <utility>

#include "common/AppState.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "player/PageFiles.h"
#include "player/RequestFilter.h"
#include "player/WindowShow.h"

namespace {

constexpr wchar_t kInitFailedText[] = L"Failed to initialize WebView2.";
constexpr LONG_PTR kOverlappedBits = WS_OVERLAPPEDWINDOW;

// Tells the service's pages they are shown by the desktop program.
void TagInitRequest(ICoreWebView2WebResourceRequestedEventArgs* args) {
  const auto headers = RequestOf(args).headers;
  if (!headers) return;
  const std::wstring value = config::Wide(config::Id::InitHeaderValue);
  MIRAVELL_LOG_IF_FAILED(headers->SetHeader(config::Wide(config::Id::InitHeader1).c_str(), value.c_str()));
  MIRAVELL_LOG_IF_FAILED(headers->SetHeader(config::Wide(config::Id::InitHeader2).c_str(), value.c_str()));
}

}  // namespace

const std::wstring& NavBarScript() {
  static const std::wstring script(pages::kNavBarScript);
  return script;
}

// Unlike the lesson window's toggle, this one saves and restores the user's
// placement and keeps the style bits it does not own.
void ToggleInitFullscreen(HWND window) {
  WindowState& windows = GetWindowState();
  if (window == nullptr) return;
  const LONG_PTR style = ::GetWindowLongPtrW(window, GWL_STYLE);
  if (windows.initFullscreen) {
    ::SetWindowLongPtrW(window, GWL_STYLE, style | kOverlappedBits);
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowPlacement(window, &windows.savedPlacement));
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowPos(
        window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_FRAMECHANGED));
    windows.initFullscreen = false;
    return;
  }
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  windows.savedPlacement.length = sizeof(WINDOWPLACEMENT);
  if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::GetWindowPlacement(window, &windows.savedPlacement)) ||
      !MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
          ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor))) {
    return;
  }
  ::SetWindowLongPtrW(window, GWL_STYLE, style & ~kOverlappedBits);
  const RECT& r = monitor.rcMonitor;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowPos(window, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                                  SWP_NOOWNERZORDER | SWP_FRAMECHANGED));
  windows.initFullscreen = true;
}

void HandleInitMessage(HWND window, const std::wstring& message) {
  const WebViewHost::WebView* host = WebViewHost::CurrentHosts().init;
  ICoreWebView2* view = host != nullptr ? host->webview() : nullptr;
  if (message == L"btn_home") {
    if (view != nullptr) MIRAVELL_LOG_IF_FAILED(view->Navigate(config::Wide(config::Id::HomePageUrl).c_str()));
  } else if (message == L"btn_back") {
    BOOL canGoBack = FALSE;
    if (view != nullptr && SUCCEEDED(MIRAVELL_LOG_IF_FAILED(view->get_CanGoBack(&canGoBack))) && canGoBack) {
      MIRAVELL_LOG_IF_FAILED(view->GoBack());
    }
  } else if (message == L"btn_fullscreen") {
    ToggleInitFullscreen(window);
  }
}

void InstallInitCallbacks(WebViewHost::WebView& view, HWND window) {
  WebViewHost::WebView::Options options;
  options.onWebMessage = [window](const std::wstring& message) { HandleInitMessage(window, message); };
  // Every address may be opened here; only the request filter's pin check
  // can stop a request.
  options.onNavigationStarting = [](const std::wstring&, bool&) {};
  options.onResourceRequested = [](const std::wstring&, ICoreWebView2WebResourceRequestedEventArgs* args) {
    TagInitRequest(args);
  };
  options.mayUseDevices = [](const std::wstring& uri) { return InitScreenMayUseDevices(uri); };
  options.onInitComplete = [&view, window](bool success) {
    if (!success) EndForFailedBrowser(window, kInitFailedText);
    view.ApplySettings();
    if (ICoreWebView2* browser = view.webview()) {
      MIRAVELL_LOG_IF_FAILED(browser->AddScriptToExecuteOnDocumentCreated(NavBarScript().c_str(), nullptr));
      MIRAVELL_LOG_IF_FAILED(browser->Navigate(config::Wide(config::Id::InitialPageUrl).c_str()));
    }
    ShowOverSplash(window);
  };
  view.SetOptions(std::move(options));
}
