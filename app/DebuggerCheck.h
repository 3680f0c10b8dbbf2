#pragma once
// Whether a debugger is attached to this process. Students' machines never
// need one on the player: with one attached, the watermark, the capture
// exclusion and the pins are a memory edit away.
#include <windows.h>

#include <cstdint>

// What the system says about the process's debugging, each from its own
// source, so that hiding one (patching IsDebuggerPresent, clearing the PEB
// flag) still leaves the others.
struct DebugSignals {
  bool debuggerPresent = false;    // IsDebuggerPresent (the PEB flag)
  bool remoteDebugger = false;     // CheckRemoteDebuggerPresent (the kernel's debug port)
  std::uintptr_t debugPort = 0;    // NtQueryInformationProcess class 7
  bool debugObject = false;        // class 0x1E answered with a handle
  bool debugFlagsCleared = false;  // class 0x1F answered 0: the process is debugged
};

// Any one signal is enough.
bool DebuggerAttached(const DebugSignals& signals) noexcept;

// Reads the signals of the current process. A query the system does not
// answer counts as "not debugged" for that signal only.
DebugSignals ReadDebugSignals() noexcept;
