#pragma once
// How both main windows appear once their browser is up.
#include <windows.h>

// Destroys the splash when it is still there, then shows the window and
// raises it above other windows without leaving it on top of them.
void ShowOverSplash(HWND window);
