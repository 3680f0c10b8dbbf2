// Test program: sleeps for the given seconds (default 60); with --spawn PATH
// it first starts PATH as its own child (which then outlives it).
#include <windows.h>

#include <string>

#include "common/Handles.h"

int wmain(int argc, wchar_t** argv) {
  DWORD seconds = 60;
  for (int i = 1; i < argc; ++i) {
    const std::wstring flag = argv[i];
    if (flag == L"--spawn" && i + 1 < argc) {
      std::wstring line = L"\"" + std::wstring(argv[++i]) + L"\" 60";
      STARTUPINFOW startup{};
      startup.cb = sizeof(startup);
      PROCESS_INFORMATION process{};
      if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        UniqueHandle thread(process.hThread);
        UniqueHandle child(process.hProcess);
      }
    } else {
      seconds = static_cast<DWORD>(_wtoi(argv[i]));
    }
  }
  ::Sleep(seconds * 1000);
  return 0;
}
