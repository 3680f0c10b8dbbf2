#pragma once
// How both main windows appear once their browser is up, and how they end
// when it does not come up.
#include <windows.h>

// Destroys the splash when it is still there, then shows the window and
// raises it above other windows without leaving it on top of them.
void ShowOverSplash(HWND window);

// Tells the student the browser did not come up, in a box owned by owner
// (or by no window), then ends the process with exit code 1.
void EndForFailedBrowser(HWND owner, const wchar_t* text);
