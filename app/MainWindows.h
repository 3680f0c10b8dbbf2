#pragma once
// The two main windows: the player (a link start) and the initialisation
// screen (a plain start). Only one exists in a process.
#include <windows.h>

#include <string>

#include "common/WindowClasses.h"

// productName + " V " + version.
std::wstring MainWindowTitle();

// Registers the class of the window this start builds (player or init).
void RegisterMainWindowClass(HINSTANCE instance, bool player);

// Link path, first step: the visible 1280 x 720 player window (null on failure).
HWND CreatePlayerWindowFrame(HINSTANCE instance);

// Link path, from storing the window on: capture exclusion, data folder, the
// player's browser, the 3-second timer. True once the browser is up.
bool CreatePlayerWindow(HINSTANCE instance, HWND window);

// Plain start: the 1024 x 768 initialisation window and its browser. False
// when the window cannot be created.
bool CreateInitScreen(HINSTANCE instance);

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK InitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Processes every queued message of the thread and returns when none is left.
void DrainMessageQueue();
