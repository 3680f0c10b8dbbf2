#pragma once
// What the initialisation screen (a start without a link) does once its
// browser exists: open the start page with the navigation bar, answer the
// bar's buttons, switch to and from fullscreen, tag its requests.
#include <windows.h>

#include <string>

#include "player/WebViewHost.h"

// The floating, draggable Home / Back / Fullscreen bar and the light loading
// overlay shown whenever a page unloads; added to every document.
const std::wstring& NavBarScript();

// Sets the screen's options (its callbacks) on its browser host.
void InstallInitCallbacks(WebViewHost::WebView& view, HWND window);

// The bar's messages "btn_home", "btn_back" and "btn_fullscreen" (exact).
void HandleInitMessage(HWND window, const std::wstring& message);

// Flips the screen between the whole monitor and the exact placement it had
// before.
void ToggleInitFullscreen(HWND window);
