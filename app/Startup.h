#pragma once
// The start-up sequence of the program, from COM to the message loop.
#include <windows.h>

#include <string>

// Runs the whole sequence on the calling thread and returns the exit code.
int RunStartupSequence(HINSTANCE instance, const std::wstring& commandLine);
