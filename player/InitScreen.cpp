#include "player/InitScreen.h"

#include "common/AppState.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Seams.h"
#include "player/RequestFilter.h"
#include "player/WindowShow.h"

namespace {

constexpr wchar_t kInitFailedText[] = L"Failed to initialize WebView2.";
constexpr wchar_t kInitFailedTitle[] = L"Error";
constexpr LONG_PTR kOverlappedBits = WS_OVERLAPPEDWINDOW;

// Lines joined by line feeds, none after the last. The button icons are the
// characters themselves (the house is a surrogate pair).
const wchar_t kNavBarScript[] =
    L"(() => {\n"
    L"    if (window._quellaNavAdded) return;\n"
    L"    window._quellaNavAdded = true;\n"
    L"\n"
    L"    function showLoader() {\n"
    L"        let loader = document.getElementById('quella-full-loader');\n"
    L"        if (loader) {\n"
    L"            loader.style.display = 'flex';\n"
    L"        } else {\n"
    L"            loader = document.createElement('div');\n"
    L"            loader.id = 'quella-full-loader';\n"
    L"            loader.innerHTML = '<div style=\"width:50px;height:50px;border:5px solid "
    L"rgba(0,0,0,0.1);border-top-color:#3498db;border-radius:50%;animation:quella-spin 1s linear infinite;\"></div>' "
    L"+\n"
    L"                               '<style>@keyframes quella-spin { to { transform: rotate(360deg); } }</style>';\n"
    L"            loader.style.cssText = "
    L"'position:fixed;top:0;left:0;width:100vw;height:100vh;background:rgba(255,255,255,0.7);backdrop-filter:blur(3px);"
    L"z-index:2147483647;display:flex;justify-content:center;align-items:center;';\n"
    L"            if (document.body) document.body.appendChild(loader); else "
    L"document.documentElement.appendChild(loader);\n"
    L"        }\n"
    L"        if (window._quellaLoaderTimeout) clearTimeout(window._quellaLoaderTimeout);\n"
    L"        window._quellaLoaderTimeout = setTimeout(() => {\n"
    L"            let l = document.getElementById('quella-full-loader');\n"
    L"            if (l) l.style.display = 'none';\n"
    L"        }, 5000);\n"
    L"    }\n"
    L"    window.addEventListener('beforeunload', showLoader);\n"
    L"\n"
    L"    function injectNav() {\n"
    L"        if (document.getElementById('quella-nav-container')) return;\n"
    L"        let savedX = '20', savedY = '20';\n"
    L"        try {\n"
    L"            savedX = localStorage.getItem('qu_nx') || '20';\n"
    L"            savedY = localStorage.getItem('qu_ny') || '20';\n"
    L"        } catch (e) {}\n"
    L"\n"
    L"        const container = document.createElement('div');\n"
    L"        container.id = 'quella-nav-container';\n"
    L"        container.style.position = 'fixed';\n"
    L"        container.style.left = savedX + 'px';\n"
    L"        container.style.top = savedY + 'px';\n"
    L"        container.style.zIndex = '2147483646';\n"
    L"        container.style.display = 'flex';\n"
    L"        container.style.gap = '10px';\n"
    L"        container.style.padding = '8px';\n"
    L"        container.style.background = 'rgba(0, 0, 0, 0.4)';\n"
    L"        container.style.backdropFilter = 'blur(10px)';\n"
    L"        container.style.borderRadius = '12px';\n"
    L"        container.style.transition = 'all 0.3s ease';\n"
    L"        container.style.opacity = '0.4';\n"
    L"        container.style.alignItems = 'center';\n"
    L"        container.style.boxShadow = '0 4px 6px rgba(0,0,0,0.1)';\n"
    L"\n"
    L"        const handle = document.createElement('div');\n"
    L"        handle.innerHTML = '<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"20\" height=\"20\" viewBox=\"0 0 "
    L"24 24\" fill=\"white\">' +\n"
    L"                           '<circle cx=\"9\" cy=\"5\" r=\"2\"/><circle cx=\"15\" cy=\"5\" r=\"2\"/>' +\n"
    L"                           '<circle cx=\"9\" cy=\"12\" r=\"2\"/><circle cx=\"15\" cy=\"12\" r=\"2\"/>' +\n"
    L"                           '<circle cx=\"9\" cy=\"19\" r=\"2\"/><circle cx=\"15\" cy=\"19\" r=\"2\"/></svg>';\n"
    L"        handle.style.cursor = 'grab';\n"
    L"        handle.style.opacity = '0.7';\n"
    L"        handle.style.display = 'flex';\n"
    L"        container.appendChild(handle);\n"
    L"\n"
    L"        let isDragging = false, hasMoved = false;\n"
    L"        let startX = 0, startY = 0, startLeft = 0, startTop = 0;\n"
    L"        container.addEventListener('mousedown', (e) => {\n"
    L"            isDragging = true;\n"
    L"            hasMoved = false;\n"
    L"            startX = e.clientX;\n"
    L"            startY = e.clientY;\n"
    L"            startLeft = container.offsetLeft;\n"
    L"            startTop = container.offsetTop;\n"
    L"            handle.style.cursor = 'grabbing';\n"
    L"        });\n"
    L"        window.addEventListener('mousemove', (e) => {\n"
    L"            if (!isDragging) return;\n"
    L"            const dx = e.clientX - startX;\n"
    L"            const dy = e.clientY - startY;\n"
    L"            if (Math.abs(dx) > 3 || Math.abs(dy) > 3) hasMoved = true;\n"
    L"            container.style.left = (startLeft + dx) + 'px';\n"
    L"            container.style.top = (startTop + dy) + 'px';\n"
    L"        });\n"
    L"        // Where the bar was dropped, not where its transition has got to yet.\n"
    L"        window.addEventListener('mouseup', () => {\n"
    L"            if (!isDragging) return;\n"
    L"            isDragging = false;\n"
    L"            handle.style.cursor = 'grab';\n"
    L"            if (hasMoved) {\n"
    L"                try {\n"
    L"                    localStorage.setItem('qu_nx', parseInt(container.style.left, 10));\n"
    L"                    localStorage.setItem('qu_ny', parseInt(container.style.top, 10));\n"
    L"                } catch (e) {}\n"
    L"            }\n"
    L"        });\n"
    L"\n"
    L"        function createBtn(icon, text, msg, noLoader) {\n"
    L"            const b = document.createElement('button');\n"
    L"            b.style.background = 'rgba(255, 255, 255, 0.9)';\n"
    L"            b.style.border = 'none';\n"
    L"            b.style.padding = '8px';\n"
    L"            b.style.borderRadius = '8px';\n"
    L"            b.style.fontWeight = 'bold';\n"
    L"            b.style.cursor = 'pointer';\n"
    L"            b.style.fontFamily = 'sans-serif';\n"
    L"            b.style.color = '#333';\n"
    L"            b.style.display = 'flex';\n"
    L"            b.style.alignItems = 'center';\n"
    L"            b.style.transition = 'all 0.3s ease';\n"
    L"            b.innerHTML = '<span>' + icon + '</span><span class=\"nav-text\" "
    L"style=\"max-width:0px;opacity:0;overflow:hidden;white-space:nowrap;transition:all 0.3s ease;margin-left:0px;\">' "
    L"+ text + '</span>';\n"
    L"            b.addEventListener('click', (e) => {\n"
    L"                if (hasMoved) {\n"
    L"                    e.preventDefault();\n"
    L"                    e.stopPropagation();\n"
    L"                    return;\n"
    L"                }\n"
    L"                if (!noLoader) showLoader();\n"
    L"                window.chrome.webview.postMessage(msg);\n"
    L"            });\n"
    L"            return b;\n"
    L"        }\n"
    L"\n"
    L"        const buttons = [\n"
    L"            createBtn('\U0001F3E0', 'Home', 'btn_home', false),\n"
    L"            createBtn('\u2190', 'Back', 'btn_back', false),\n"
    L"            createBtn('\u26F6', 'Fullscreen', 'btn_fullscreen', true)\n"
    L"        ];\n"
    L"        buttons.forEach((b) => container.appendChild(b));\n"
    L"\n"
    L"        container.addEventListener('mouseenter', () => {\n"
    L"            container.style.opacity = '1';\n"
    L"            container.style.transform = 'scale(1.05)';\n"
    L"            buttons.forEach((b) => {\n"
    L"                b.style.padding = '8px 16px';\n"
    L"                const t = b.querySelector('.nav-text');\n"
    L"                t.style.maxWidth = '50px';\n"
    L"                t.style.opacity = '1';\n"
    L"                t.style.marginLeft = '4px';\n"
    L"            });\n"
    L"        });\n"
    L"        container.addEventListener('mouseleave', () => {\n"
    L"            container.style.opacity = '0.4';\n"
    L"            container.style.transform = 'scale(1)';\n"
    L"            buttons.forEach((b) => {\n"
    L"                b.style.padding = '8px';\n"
    L"                const t = b.querySelector('.nav-text');\n"
    L"                t.style.maxWidth = '0px';\n"
    L"                t.style.opacity = '0';\n"
    L"                t.style.marginLeft = '0px';\n"
    L"            });\n"
    L"        });\n"
    L"\n"
    L"        if (document.body) document.body.appendChild(container); else "
    L"document.documentElement.appendChild(container);\n"
    L"    }\n"
    L"\n"
    L"    if (document.readyState === 'loading') {\n"
    L"        document.addEventListener('DOMContentLoaded', injectNav);\n"
    L"    } else {\n"
    L"        injectNav();\n"
    L"    }\n"
    L"    // Pages that re-render their whole body (single-page apps) drop the bar.\n"
    L"    const observer = new MutationObserver(() => {\n"
    L"        if (!document.getElementById('quella-nav-container') && document.body) injectNav();\n"
    L"    });\n"
    L"    observer.observe(document, { childList: true, subtree: true });\n"
    L"})();";

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
  static const std::wstring script(kNavBarScript);
  return script;
}

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
  WindowState& windows = GetWindowState();
  WebViewHost::WebView* view = windows.initView;
  if (message == L"btn_home") {
    if (view != nullptr && view->webview) {
      MIRAVELL_LOG_IF_FAILED(view->webview->Navigate(config::Wide(config::Id::HomePageUrl).c_str()));
    }
  } else if (message == L"btn_back") {
    BOOL canGoBack = FALSE;
    if (view != nullptr && view->webview &&
        SUCCEEDED(MIRAVELL_LOG_IF_FAILED(view->webview->get_CanGoBack(&canGoBack))) && canGoBack) {
      MIRAVELL_LOG_IF_FAILED(view->webview->GoBack());
    }
  } else if (message == L"btn_fullscreen") {
    ToggleInitFullscreen(window);
  }
}

void InstallInitCallbacks(WebViewHost::WebView& view, HWND window) {
  view.onWebMessage = [window](const std::wstring& message) { HandleInitMessage(window, message); };
  // Every address may be opened here; only the request filter's pin check
  // can stop a request.
  view.onNavigationStarting = [](const std::wstring&, bool&) {};
  view.onResourceRequested = [](const std::wstring&, ICoreWebView2WebResourceRequestedEventArgs* args) {
    TagInitRequest(args);
  };
  view.onInitComplete = [&view, window](bool success) {
    if (!success) {
      seams::ShowMessageBox(window, kInitFailedText, kInitFailedTitle,
                            MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
      seams::EndProcess(1);
    }
    view.ApplySettings();
    if (view.webview) {
      MIRAVELL_LOG_IF_FAILED(view.webview->AddScriptToExecuteOnDocumentCreated(NavBarScript().c_str(), nullptr));
      MIRAVELL_LOG_IF_FAILED(view.webview->Navigate(config::Wide(config::Id::InitialPageUrl).c_str()));
    }
    ShowOverSplash(window);
  };
}
