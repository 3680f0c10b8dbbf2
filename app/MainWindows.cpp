#include "app/MainWindows.h"

#include "app/BrowserStage.h"
#include "app/IntegrityHooks.h"
#include "app/resources/resource.h"
#include "common/AppState.h"
#include "common/Dpi.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "player/EngineRecovery.h"
#include "player/PlayerWindow.h"
#include "player/WebViewHost.h"

namespace {

constexpr wchar_t kLoadingText[] = L"جاري التحميل... Loading...";
constexpr wchar_t kLoadingFont[] = L"Segoe UI";
constexpr UINT_PTR kPlayerCheckTimer = 1;
constexpr UINT kPlayerCheckMilliseconds = 3000;
constexpr int kInitWidth = 1024;
constexpr int kInitHeight = 768;
#ifndef WDA_EXCLUDEFROMCAPTURE
constexpr DWORD WDA_EXCLUDEFROMCAPTURE = 0x11;
#endif

// Until the browser covers the client area, the window shows a centred
// bilingual loading text, light grey on the black class brush.
void PaintLoadingText(HWND window) {
  PaintScope paint(window);
  RECT client{};
  ::GetClientRect(window, &client);
  ::SetBkMode(paint.dc(), TRANSPARENT);
  ::SetTextColor(paint.dc(), RGB(200, 200, 200));
  UniqueGdiObject<HFONT> font(::CreateFontW(ScaleForDpi(24, DpiOfWindow(window)), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                            FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                            CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kLoadingFont));
  SelectionScope selected(paint.dc(), font.get());
  ::DrawTextW(paint.dc(), kLoadingText, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

}  // namespace

std::wstring MainWindowTitle() {
  const AppState& app = GetAppState();
  return app.productName + L" V " + app.version;
}

void RegisterMainWindowClass(HINSTANCE instance, bool player) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = player ? PlayerWindowProc : InitWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
  windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_MIRAVELL));
  windowClass.lpszClassName = player ? kPlayerWindowClass : kInitWindowClass;
  MIRAVELL_LOG_LAST_ERROR_IF_NULL(::RegisterClassExW(&windowClass));
}

void DrainMessageQueue() {
  MSG message{};
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

// Both main windows are placed by the system (CW_USEDEFAULT), which puts a
// new window on the primary monitor: its scale gives their size.
HWND CreatePlayerWindowFrame(HINSTANCE instance) {
  const UINT dpi = PrimaryMonitorDpi();
  HWND window =
      ::CreateWindowExW(WS_EX_APPWINDOW, kPlayerWindowClass, MainWindowTitle().c_str(),
                        WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, ScaleForDpi(kPlayerWidth, dpi),
                        ScaleForDpi(kPlayerHeight, dpi), nullptr, nullptr, instance, nullptr);
  if (window != nullptr) {
    ::UpdateWindow(window);
    DrainMessageQueue();
  }
  return window;
}

bool CreatePlayerWindow(HINSTANCE, HWND window) {
  WindowState& windows = GetWindowState();
  windows.playerWindow = window;
  windows.playerShown = false;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowDisplayAffinity(window, WDA_EXCLUDEFROMCAPTURE));
  const std::wstring dataFolder = BrowserDataFolder();
  if (!InitializePlayerBrowser(window, dataFolder)) return false;
  MIRAVELL_LOG_LAST_ERROR_IF_NULL(::SetTimer(window, kPlayerCheckTimer, kPlayerCheckMilliseconds, nullptr));
  integrity::StartPlayerWork();
  return true;
}

bool CreateInitScreen(HINSTANCE instance) {
  const UINT dpi = PrimaryMonitorDpi();
  HWND window = ::CreateWindowExW(
      WS_EX_APPWINDOW, kInitWindowClass, MainWindowTitle().c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
      CW_USEDEFAULT, ScaleForDpi(kInitWidth, dpi), ScaleForDpi(kInitHeight, dpi), nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return false;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetWindowDisplayAffinity(window, WDA_EXCLUDEFROMCAPTURE));
  const std::wstring dataFolder = BrowserDataFolder();
  RECT client{};
  ::GetClientRect(window, &client);
  if (!InitializeInitBrowser(window, dataFolder)) return false;
  ResizeInitBrowser(client.right - client.left, client.bottom - client.top);
  return true;
}

namespace {

// What sets the two main windows apart: the player runs the integrity hooks
// on its timer and its end.
struct MainWindowKind {
  bool player;
  void (*resizeBrowser)(int width, int height);
  WebViewHost::WebView* WebViewHost::Hosts::*host;
};

LRESULT MainWindowProc(const MainWindowKind& kind, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    switch (message) {
      case WM_DESTROY:
        if (kind.player) integrity::OnPlayerDestroy();
        ::PostQuitMessage(0);
        return 0;
      case WM_SIZE:
        kind.resizeBrowser(LOWORD(lParam), HIWORD(lParam));
        return 0;
      case WM_PAINT:
        PaintLoadingText(window);
        return 0;
      case WM_DPICHANGED:
        // The new size arrives as WM_SIZE, which resizes the browser.
        ApplySuggestedDpiRect(window, lParam);
        return 0;
      case WM_TIMER:
        if (!kind.player) break;
        if (wParam == kPlayerCheckTimer) integrity::OnPlayerTimer();
        return 0;
      case kEngineFailedMessage:
        if (auto* view = WebViewHost::CurrentHosts().*kind.host) view->HandleProcessFailure(wParam, lParam);
        return 0;
      default:
        break;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
  }
  // Nothing may cross into the system's dispatcher.
  MIRAVELL_CATCH_RETURN(0)
}

}  // namespace

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static constexpr MainWindowKind kPlayer{true, &ResizePlayerBrowser, &WebViewHost::Hosts::player};
  return MainWindowProc(kPlayer, window, message, wParam, lParam);
}

LRESULT CALLBACK InitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static constexpr MainWindowKind kInit{false, &ResizeInitBrowser, &WebViewHost::Hosts::init};
  return MainWindowProc(kInit, window, message, wParam, lParam);
}
