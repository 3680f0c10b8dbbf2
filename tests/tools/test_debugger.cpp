// Test program: a debugger, as a student's debugging tool would be one.
//   test_debugger start PROGRAM [ARGS...]   starts PROGRAM under this debugger
//   test_debugger attach PID                attaches to a running process
// Prints "debugging <pid>" once the debuggee is known, runs the debug loop
// (passing the debuggee's own exceptions back to it) and exits with the
// debuggee's exit code; 3 when it cannot debug.
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/Handles.h"

namespace {

constexpr int kCannotDebug = 3;

std::wstring Quoted(const std::wstring& argument) { return L"\"" + argument + L"\""; }

int DebugLoop(DWORD target) {
  for (;;) {
    DEBUG_EVENT event{};
    if (!::WaitForDebugEvent(&event, INFINITE)) return kCannotDebug;
    DWORD status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        // The image's file handle is the debugger's to close; the process
        // and thread handles stay the system's.
        UniqueHandle(event.u.CreateProcessInfo.hFile).reset();
        break;
      case LOAD_DLL_DEBUG_EVENT:
        UniqueHandle(event.u.LoadDll.hFile).reset();
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The initial and the attach breakpoints are the debugger's; every
        // other exception is the program's own to handle.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) status = DBG_EXCEPTION_NOT_HANDLED;
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        if (event.dwProcessId == target) {
          ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, DBG_CONTINUE);
          return static_cast<int>(event.u.ExitProcess.dwExitCode);
        }
        break;
      default:
        break;
    }
    ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 3 && std::wstring(argv[1]) == L"start") {
    std::wstring line = Quoted(argv[2]);
    for (int i = 3; i < argc; ++i) line += L" " + Quoted(argv[i]);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr,
                          &startup, &process)) {
      std::fprintf(stderr, "test_debugger: cannot start the program (error %lu)\n", ::GetLastError());
      return kCannotDebug;
    }
    const UniqueHandle thread(process.hThread);
    const UniqueHandle child(process.hProcess);
    std::printf("debugging %lu\n", process.dwProcessId);
    std::fflush(stdout);
    return DebugLoop(process.dwProcessId);
  }
  if (argc == 3 && std::wstring(argv[1]) == L"attach") {
    const auto pid = static_cast<DWORD>(_wtoi(argv[2]));
    if (!::DebugActiveProcess(pid)) {
      std::fprintf(stderr, "test_debugger: cannot attach to %lu (error %lu)\n", pid, ::GetLastError());
      return kCannotDebug;
    }
    std::printf("debugging %lu\n", pid);
    std::fflush(stdout);
    return DebugLoop(pid);
  }
  std::fprintf(stderr, "usage: test_debugger start PROGRAM [ARGS...] | attach PID\n");
  return 2;
}
