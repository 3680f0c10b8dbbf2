#pragma once
// The running Windows release as the system knows it.
#include <windows.h>

// Fills info from the native version query. GetVersionExW lies to programs
// whose manifest does not name the running release; this does not. On any
// failure the record stays zero.
void QueryNativeVersion(OSVERSIONINFOEXW& info) noexcept;
