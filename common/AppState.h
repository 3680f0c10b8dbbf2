#pragma once
// Process-wide state: the application record and the window state of the
// user-interface thread.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/Version.h"

namespace WebViewHost {
class WebView;
}

// The one application record. Its constants are set before the entry point
// runs; the link parser writes the content fields once, before the player's
// browser exists, and everything after that only reads them.
struct AppState {
  std::wstring productName = L"Miravell";
  std::wstring scheme = L"miravell";
  std::wstring version = MIRAVELL_VERSION_WIDE;
  std::wstring company = L"Miravell Learning";

  // Content fields, written by the link parser.
  std::wstring domain;
  std::wstring contentUrl;
  std::wstring watermarkText;
  std::wstring contentType;
  std::int32_t contentNumber = 1;
  std::wstring injectedScript;
  // True when the content address came from the service's answer, not from
  // the link itself (which anyone can make).
  bool contentFromService = false;

  // Written once by the entry point from the process token.
  bool isElevated = false;
};

// Window state, touched on the user-interface thread only. The browser hosts
// belong to the player library; they are only pointed at from here so that
// lower layers (window procedures, the splash) can reach them without an
// include that would point back up the layers.
struct WindowState {
  HWND splashWindow = nullptr;
  HWND playerWindow = nullptr;
  WebViewHost::WebView* playerView = nullptr;
  bool playerShown = false;
  bool playerFullscreen = false;
  WebViewHost::WebView* initView = nullptr;
  bool initFullscreen = false;
  WINDOWPLACEMENT savedPlacement{sizeof(WINDOWPLACEMENT), 0, 0, {}, {}, {}};
};

// The process-wide instances.
AppState& GetAppState() noexcept;
WindowState& GetWindowState() noexcept;
