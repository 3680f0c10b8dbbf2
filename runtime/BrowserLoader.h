#pragma once
// Our own loader for the browser engine, with the entry points and results of
// the engine's SDK loader, so the rest of the program calls it as it would the
// SDK's. It looks for the engine in this order: the folder named by the
// environment variable WEBVIEW2_BROWSER_EXECUTABLE_FOLDER or by the caller (a
// fixed-version engine), then the installed (evergreen) engine, per machine
// before per user. It never loads a DLL from the executable's folder: an SDK
// loader found there would be anyone's code running elevated.
//
// An elevated process takes the engine from the machine's registration only,
// and only from a folder administrators alone can change under the machine's
// program folders: the variable, the caller's folder and the user's
// registration are all the user's to set, so unelevated code of that user
// could otherwise name a DLL of its own for the next elevated start to load.
// To such a process an engine installed for the user only is missing.
#include <windows.h>

#include <optional>

#include "runtime/WebView2Interfaces.h"

// The version of the engine that would be used, as a CoTaskMemAlloc'd text the
// caller frees with CoTaskMemFree; HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
// when there is none.
STDAPI GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserExecutableFolder, LPWSTR* versionInfo);

// Starts the engine; the environment arrives later through handler->Invoke on
// this (single-threaded apartment) thread. HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)
// when there is no engine.
STDAPI CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);

namespace runtime {

enum class EngineSources {
  // The variable or the caller's folder, then the machine's, then the user's.
  Anywhere,
  // The machine's registration, under a protected program folder, only.
  MachineOnly,
};

// MachineOnly when this process's token is elevated, Anywhere otherwise,
// unless overridden.
[[nodiscard]] EngineSources CurrentEngineSources();

// For tests and tools: the sources to use instead of deciding by the token;
// nullopt decides by the token again.
void OverrideEngineSources(std::optional<EngineSources> sources);

}  // namespace runtime
