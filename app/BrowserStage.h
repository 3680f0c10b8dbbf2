#pragma once
// Where the start-up sequence hands over to the embedded browser.
#include <windows.h>

#include <string>

// The runtime stage: the browser runtime is present (installing it with the user's
// consent when it is not). False ends the start with exit code 1.
bool EnsureBrowserRuntimeStage();

// The browser's profile folder: the data folder + "\WebView2Data".
std::wstring BrowserDataFolder();

// Right after the runtime stage: the engine's environment begins to start, so that it
// comes up while the pins, the update check and the link resolution run.
// The host of whichever window follows takes it over.
void StartBrowserEnvironment();

// The start ends without a browser window (a refused link, an update, an
// alert): the early environment goes, and its engine processes with it.
// Harmless when there is none.
void ReleaseBrowserEnvironment() noexcept;

// Creates and initialises the player's browser host in the window, with its
// profile in the data folder. A failed start ends the process inside.
bool InitializePlayerBrowser(HWND window, const std::wstring& dataFolder);

// The same for the initialisation screen.
bool InitializeInitBrowser(HWND window, const std::wstring& dataFolder);

// Resizes the browser of the player (or of the init screen) to the client
// area; nothing happens while the window has no browser.
void ResizePlayerBrowser(int width, int height);
void ResizeInitBrowser(int width, int height);

// Shutdown: deletes the browser hosts that exist.
void DeleteBrowserHosts();
