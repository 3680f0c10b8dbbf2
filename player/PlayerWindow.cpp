#include "player/PlayerWindow.h"

#include <algorithm>
#include <utility>

#include "common/AppState.h"
#include "common/Dpi.h"
#include "common/FailureLog.h"
#include "links/ContentUrl.h"
#include "player/ContentPages.h"
#include "player/DownloadPolicy.h"
#include "player/NavigationPolicy.h"
#include "player/RequestFilter.h"
#include "player/WindowShow.h"

namespace {

constexpr wchar_t kInitFailedText[] = L"Failed to initialize WebView2.\nPlease restart the application.";

// The Referer video-platform pages expect: the service's address without
// one trailing "/".
void AddPlayerReferer(const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs* args) {
  if (!IsVideoPlatformUrl(uri)) return;
  const auto headers = RequestOf(args).headers;
  if (!headers) return;
  std::wstring referer = GetAppState().domain;
  if (!referer.empty() && referer.back() == L'/') referer.pop_back();
  if (!referer.empty()) MIRAVELL_LOG_IF_FAILED(headers->SetHeader(L"Referer", referer.c_str()));
}

}  // namespace

void LoadPlayerContent(WebViewHost::WebView& view) {
  ICoreWebView2* browser = view.webview();
  if (browser == nullptr) return;
  const AppState& app = GetAppState();
  MIRAVELL_LOG_IF_FAILED(browser->AddScriptToExecuteOnDocumentCreated(LoaderScript().c_str(), nullptr));
  if (app.contentType == L"url_direct") {
    if (!app.injectedScript.empty()) {
      MIRAVELL_LOG_IF_FAILED(
          browser->AddScriptToExecuteOnDocumentCreated(ReadyWrapper(app.injectedScript).c_str(), nullptr));
    }
  } else if (app.contentType == L"pdf" || app.contentType == L"pdf_url") {
    MIRAVELL_LOG_IF_FAILED(
        browser->AddScriptToExecuteOnDocumentCreated(WatermarkScript(EscapeForJs(app.watermarkText)).c_str(), nullptr));
  }
  NavigatePlayerContent(view);
}

void NavigatePlayerContent(WebViewHost::WebView& view) {
  ICoreWebView2* browser = view.webview();
  if (browser == nullptr) return;
  const AppState& app = GetAppState();
  if (app.contentType == L"url_direct" || app.contentType == L"pdf" || app.contentType == L"pdf_url") {
    MIRAVELL_LOG_IF_FAILED(browser->Navigate(app.contentUrl.c_str()));
  } else {
    MIRAVELL_LOG_IF_FAILED(
        browser->NavigateToString(EmbedPage(app.productName, app.contentUrl, app.watermarkText).c_str()));
  }
}

// The lesson window's own toggle, kept apart from the init screen's on purpose:
// the lesson always comes back at its one fixed size and style, where the
// init screen gives back whatever placement the user had made.
void TogglePlayerFullscreen() {
  WindowState& windows = GetWindowState();
  HWND window = windows.playerWindow;
  if (window == nullptr) return;
  const bool wasFullscreen = windows.playerFullscreen;
  windows.playerFullscreen = !wasFullscreen;
  if (!wasFullscreen) {
    ::SetWindowLongPtrW(window, GWL_STYLE, static_cast<LONG_PTR>(WS_POPUP | WS_VISIBLE));
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
        ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
    const RECT& r = monitor.rcMonitor;
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
        ::SetWindowPos(window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_FRAMECHANGED));
    return;
  }
  ::SetWindowLongPtrW(window, GWL_STYLE, static_cast<LONG_PTR>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
  // Back at 1280 x 720 (in 96-DPI units: the monitor's scale applies), placed so the whole window is visible on the
  // monitor it is on (the earlier placement is not kept).
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor));
  const RECT& work = monitor.rcWork;
  const UINT dpi = DpiOfWindow(window);
  const int width = ScaleForDpi(kPlayerWidth, dpi);
  const int height = ScaleForDpi(kPlayerHeight, dpi);
  const int x = work.left + std::max<int>(0, (work.right - work.left - width) / 2);
  const int y = work.top + std::max<int>(0, (work.bottom - work.top - height) / 2);
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowPos(window, nullptr, x, y, width, height, SWP_FRAMECHANGED));
}

void HandlePlayerMessage(const std::wstring& message) {
  if (message == L"toggleFullscreen" || message == L"\"toggleFullscreen\"") {
    TogglePlayerFullscreen();
  } else if (message == L"pageLoaded" || message == L"\"pageLoaded\"") {
    WindowState& windows = GetWindowState();
    if (windows.playerWindow != nullptr && !windows.playerShown) {
      windows.playerShown = true;
      ::ShowWindow(windows.playerWindow, SW_SHOW);
      ::UpdateWindow(windows.playerWindow);
    }
  }
}

void InstallPlayerCallbacks(WebViewHost::WebView& view, HWND window) {
  WebViewHost::WebView::Options options;
  options.onWebMessage = [](const std::wstring& message) { HandlePlayerMessage(message); };
  options.onResourceRequested = [](const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs* args) {
    AddPlayerReferer(uri, args);
  };
  options.onNavigationStarting = [](const std::wstring& uri, bool& cancel) {
    const AppState& app = GetAppState();
    cancel = !PlayerMayNavigate(uri, PlayerContent{app.contentUrl, app.domain, app.contentType});
  };
  options.mayUseDevices = [](const std::wstring& uri) {
    const AppState& app = GetAppState();
    return PlayerMayUseDevices(uri, app.contentFromService ? app.contentUrl : std::wstring());
  };
  options.onDownloadStarting = [](const std::wstring& uri, bool& cancel) {
    const AppState& app = GetAppState();
    cancel = IsLessonDownload(uri, LessonDownload{app.contentUrl, app.contentType});
  };
  options.hidePdfSaveAndPrint = true;
  options.showsLesson = true;
  // The same lesson from its start, through the same policy, under the
  // overlay and watermark its document scripts put on every load.
  options.onReloadContent = [&view] { NavigatePlayerContent(view); };
  options.onInitComplete = [&view, window](bool success) {
    if (!success) EndForFailedBrowser(nullptr, kInitFailedText);
    view.ApplySettings();
    LoadPlayerContent(view);
    GetWindowState().playerShown = true;
    ShowOverSplash(window);
  };
  view.SetOptions(std::move(options));
}
