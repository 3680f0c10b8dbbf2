#pragma once
// Making sure the browser engine is there before any window is built,
// installing it with the user's consent, and repairing it when it reports a
// broken state.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/InstallerSignature.h"

namespace runtime {

// True when the engine is usable, after installing it if the user agreed. The
// downloaded installer runs only when it is signed by the configured
// publisher (see InstallerSignature.h); a refused one ends like an install
// that did not take.
[[nodiscard]] bool EnsureBrowserRuntime();

// After the engine reported a broken state (0x8007139F): ends orphaned engine
// processes, deletes the profile folder, tells the user, downloads and runs
// the engine's installer again (checked as for the install), then waits 2
// seconds.
void RepairBrowserRuntime(HWND window, const std::wstring& userDataFolder);

// Whether a process's executable name is the engine's (compared without case:
// the process list gives names as they were written).
[[nodiscard]] bool IsEngineProcessName(std::wstring_view exeName);

// Ends engine processes whose parent no longer runs.
void KillOrphanedWebViewProcesses();

// Ends this process's own engine children (the alert does so before it
// shows, so that no lesson stays on screen behind it).
void KillEngineChildren();

// How much of the installer a download may bring and how long it may take:
// a server that sends more, or stalls, ends it as a failed download.
struct DownloadLimits {
  std::uint64_t maxBytes;
  std::chrono::milliseconds timeout;
};

// The installer is a small bootstrapper (about 2 MB) that fetches the engine
// itself; the time allows for a slow school network.
inline constexpr DownloadLimits kInstallerDownloadLimits{std::uint64_t{32} << 20, std::chrono::minutes(5)};

// The same flows with the installer's address, its signer and the download's
// limits given (the tests serve their own, signed by their own publisher).
[[nodiscard]] bool EnsureBrowserRuntimeFrom(const std::wstring& installerUrl, const ExpectedSigner& signer,
                                            const DownloadLimits& limits = kInstallerDownloadLimits);
void RepairBrowserRuntimeFrom(HWND window, const std::wstring& userDataFolder, const std::wstring& installerUrl,
                              const ExpectedSigner& signer, const DownloadLimits& limits = kInstallerDownloadLimits);

// The texts the user sees, written once so tests compare them byte for byte.
inline constexpr wchar_t kRequiredTitle[] = L"Quella \u2014 Component Required";
inline constexpr wchar_t kRequiredText[] =
    L"WebView2 Runtime is required to run this application.\n"
    L"\u064A\u062D\u062A\u0627\u062C \u0647\u0630\u0627 \u0627\u0644\u062A\u0637\u0628\u064A\u0642 \u0625\u0644\u0649 "
    L"WebView2 Runtime \u0644\u0644\u062A\u0634\u063A\u064A\u0644.\n\nWould you like to install it now?";
inline constexpr wchar_t kInstallingTitle[] = L"Installing...";
inline constexpr wchar_t kInstallingText[] =
    L"WebView2 Runtime is being downloaded and installed.\n"
    L"\u062C\u0627\u0631\u064A \u062A\u062D\u0645\u064A\u0644 \u0648\u062A\u062B\u0628\u064A\u062A WebView2 "
    L"Runtime.\n\n"
    L"Please wait...";
inline constexpr wchar_t kDownloadErrorTitle[] = L"Download Error";
inline constexpr wchar_t kDownloadErrorText[] =
    L"Failed to download WebView2 Runtime.\nPlease check your internet connection.";
inline constexpr wchar_t kInstallationTitle[] = L"Installation";
inline constexpr wchar_t kInstallationText[] =
    L"WebView2 installation may have failed.\nPlease restart the application.";
inline constexpr wchar_t kRepairingTitle[] = L"Repairing...";
inline constexpr wchar_t kRepairingText[] =
    L"A system component (WebView2) needs to be repaired.\n"
    L"The application will now download and reinstall it automatically.\n"
    L"\u062C\u0627\u0631\u064A \u0645\u0633\u062D \u0648\u0625\u0639\u0627\u062F\u0629 \u062A\u062D\u0645\u064A\u0644 "
    L"\u0645\u0643\u0648\u0646\u0627\u062A \u0627\u0644\u0646\u0638\u0627\u0645 "
    L"\u0627\u0644\u0623\u0633\u0627\u0633\u064A\u0629"
    L"\u060C \u064A\u0631\u062C\u0649 \u0627\u0644\u0627\u0646\u062A\u0638\u0627\u0631...";

// The installer's file name in its download folder.
inline constexpr wchar_t kInstallerFileName[] = L"WebView2Installer.exe";

}  // namespace runtime
