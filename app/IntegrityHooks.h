#pragma once
// Points where the integrity checks (IntegrityChecks.h) attach to the
// start-up sequence and the player window:
//  - every start-up group and the player window's timers look for a debugger;
//  - the first group starts the checks of the program's file (its signature,
//    its code in memory against the file) beside the start-up; the third
//    raises what they found, or leaves them to raise it when they end;
//  - the background guard looks for a debugger and re-hashes the code every
//    two seconds, and makes the browser's hosts meet their pins again every
//    ten minutes and whenever the network changes.
// A finding ends the process through the alert. The build option
// MIRAVELL_INTEGRITY_CHECKS=OFF (for a developer's own debugging session)
// leaves every check out of the program; nothing read at run time can.
#include <windows.h>

namespace integrity {

enum class StartupGroup { First, Second, Third, Fourth };

// A group of start-up checks: before elevation, after the Windows release
// stage, after the pin stages (with the guard) and after the update check.
// The fourth logs what the checks cost the start.
void RunStartupChecks(StartupGroup group);

// After the third group: the background guard, started once per process.
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
