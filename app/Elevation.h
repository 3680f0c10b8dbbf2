#pragma once
// The program runs elevated; an unelevated start restarts itself with "runas".
#include <string>

// Whether the process token is elevated (false when it cannot be read).
bool IsProcessElevated();

// Starts the executable again with the verb "runas" and the command-line
// text unchanged, then ends this process with exit code 0 whatever the
// outcome (a refused prompt ends the program without a message).
[[noreturn]] void RestartElevated(const std::wstring& executablePath, const std::wstring& commandLine);
