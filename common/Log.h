#pragma once
// The step log: lines on the debugger output channel only.
#include <string>

// Writes the line, then "\n" as a second, separate output (or hands it to a
// test's stand-in, seams::Hooks::logLine). No file, no time stamp, no level;
// never fails.
void LogLine(const std::string& line) noexcept;
