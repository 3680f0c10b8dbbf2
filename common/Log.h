#pragma once
// The step log: lines on the debugger output channel only.
#include <string>

// Writes the line, then "\n" as a second, separate output. No file, no time
// stamp, no level; never fails.
void LogLine(const std::string& line) noexcept;
