#pragma once
// The ending of the program after a condition it will not continue from: the
// code goes to the clipboard, a 10-second countdown window shows it, a
// diagnostic window that outlives the process shows it again, and the
// process ends with exit code 1.
#include <windows.h>

#include <string>

// Never returns. Runs on the calling thread (a worker thread is fine), with
// a message loop of its own. The first alert ends the process; a caller
// that comes while one is shown waits for that end and shows nothing.
[[noreturn]] void ShowAlertAndExit(const std::wstring& title, const std::wstring& message,
                                   const std::wstring& arabicMessage, const std::string& code);

// The interception alert after a certificate-pin failure on the program's own
// calls to its service (code "SSL_" + host), or on a request of the browser
// (code "MITM_PIN_" + host, cut to 100 characters).
[[noreturn]] void ShowServiceInterceptionAlert(const std::wstring& host);
[[noreturn]] void ShowBrowserInterceptionAlert(const std::wstring& host);

// Tells that an alert will be raised soon on another thread.
void AnnounceAlert();

// Whether an alert was announced or is shown: the process is ending.
bool AlertUnderWay();

// Returns at once when no alert is under way; otherwise waits for good, since
// the alert ends the process (exit code 1) when the user has seen it. The
// main thread calls it when its loop ends, so that closing a window during
// an alert does not end the process as a success.
void WaitForAlertUnderWay();

// The countdown window; returns when it has counted down or was closed.
void ShowCountdownWindow(const std::wstring& title, const std::wstring& message, const std::wstring& arabicMessage,
                         const std::wstring& code);

LRESULT CALLBACK CountdownWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the system's mshta with the command line, detached, inheriting no
// handles.
bool LaunchDetached(const std::wstring& commandLine);

// Ends the process (exit code 1) through the native call, then ExitProcess.
[[noreturn]] void TerminateSelf();

// The command line of the diagnostic window (an HTML application run by
// mshta). Every inserted text is escaped, so none can become markup or
// script or end the quoted address.
std::wstring BuildDiagnosticCommandLine(const std::wstring& title, const std::wstring& message,
                                        const std::wstring& arabicMessage, const std::wstring& code);

// Puts the code on the clipboard as CF_TEXT.
void CopyCodeToClipboard(const std::string& code);
