#pragma once
// Process-wide state: the application record and the window state of the
// user-interface thread.
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/Version.h"

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

// Window state, touched on the user-interface thread only.
struct WindowState {
  HWND splashWindow = nullptr;
  HWND playerWindow = nullptr;
  bool playerShown = false;
  bool playerFullscreen = false;
  bool initFullscreen = false;
  WINDOWPLACEMENT savedPlacement{sizeof(WINDOWPLACEMENT), 0, 0, {}, {}, {}};
};

// The process-wide instances.
AppState& GetAppState() noexcept;
WindowState& GetWindowState() noexcept;
