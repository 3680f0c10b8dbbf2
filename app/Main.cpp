// Entry point of Miravell.exe.
#include <windows.h>

#include "app/Startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  try {
    return RunStartupSequence(instance, commandLine != nullptr ? commandLine : L"");
  } catch (...) {
    // Nothing may cross the entry point; an escaped failure is a failed start.
    return 1;
  }
}
