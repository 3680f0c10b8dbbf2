#pragma once
// The start-up splash: a per-pixel-alpha layered window built once from the
// PNG embedded in the executable. The system composes it, so it stays intact
// while the user-interface thread blocks in network calls.
#include <windows.h>

#include <cstdint>

// Premultiplies one pixel stored blue, green, red, alpha (each channel times
// alpha / 255, remainder dropped), as UpdateLayeredWindow requires.
void PremultiplyPixel(std::uint8_t* bgra) noexcept;

// Creates the splash from RCDATA 102 of the instance and stores it in the
// window state. Reports its failures in message boxes and leaves no splash.
void CreateSplashWindow(HINSTANCE instance);

LRESULT CALLBACK SplashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
