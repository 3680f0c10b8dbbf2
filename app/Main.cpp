// Entry point of Miravell.exe.
#include <windows.h>

#include "app/Startup.h"
#include "common/FailureLog.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  // Before anything can load a DLL: from now on a DLL named without a path
  // comes from System32 only, never from our own folder (often a downloads
  // folder) or the current directory. The DLLs that are not known to the
  // system are delay-loaded so that none of them was loaded before this.
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
  try {
    return RunStartupSequence(instance, commandLine != nullptr ? commandLine : L"");
  }
  // Nothing may cross the entry point; an escaped failure is a failed start.
  MIRAVELL_CATCH_RETURN(1)
}
