#pragma once
// What the player window does once its browser exists: load the content,
// show itself, answer its pages' messages, switch to and from fullscreen.
#include <windows.h>

#include <string>

#include "player/WebViewHost.h"

// The player window's size when it is not fullscreen: created at it, and
// brought back to it from fullscreen.
inline constexpr int kPlayerWidth = 1280;
inline constexpr int kPlayerHeight = 720;

// Sets the player's options (its callbacks and flags) on its browser host.
void InstallPlayerCallbacks(WebViewHost::WebView& view, HWND window);

// Adds the scripts and navigates as the content type says.
void LoadPlayerContent(WebViewHost::WebView& view);

// Navigates to the content again; the scripts stay added.
void NavigatePlayerContent(WebViewHost::WebView& view);

// The page messages "toggleFullscreen" and "pageLoaded" (also JSON-quoted).
void HandlePlayerMessage(const std::wstring& message);

// Flips the player between fullscreen on its monitor and 1280 x 720 windowed.
void TogglePlayerFullscreen();
