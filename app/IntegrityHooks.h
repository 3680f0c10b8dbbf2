#pragma once
// Points where the environment integrity checks attach to the start-up
// sequence and the player window. The checks themselves are not part of this
// program yet: every hook does nothing. The process-wide flags and timers the
// sequence shares with them are real, so that start-up and shutdown keep
// their order when checks arrive.
#include <windows.h>

namespace integrity {

enum class StartupGroup { First, Second, Third, Fourth };

// A group of start-up checks (stages 3, 8, 12 and 14 of the sequence).
void RunStartupChecks(StartupGroup group);

// Stage 12: the background guard, started once per process.
void StartBackgroundGuard();

// Shutdown: clears the guard flag and cancels its network-change
// notification when one is registered.
void StopBackgroundGuard();

// Link path: after the link was parsed, and once the player's browser is up.
void OnLinkParsed();
void StartPlayerWork();

// The player window's 3-second timer and its WM_DESTROY.
void OnPlayerTimer();
void OnPlayerDestroy();

// For tests: whether the worker flag is set and the 60-second timer exists.
bool PlayerWorkRunning();
UINT_PTR PlayerTimerId();

}  // namespace integrity
