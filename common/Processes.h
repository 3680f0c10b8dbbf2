#pragma once
// The processes of the machine, as one snapshot, for the two places that end
// the engine's processes (each chooses which ones for reasons of its own).
#include <windows.h>
// After windows.h, which it builds on.
#include <tlhelp32.h>

#include <functional>

// Calls visit for each process of a snapshot taken now; nothing when no
// snapshot can be taken.
void ForEachProcess(const std::function<void(const PROCESSENTRY32W& process)>& visit);
