// Stands in for a program someone left beside the player (mshta.exe...): when
// started, it leaves "<its path>.ran" behind, which the tests look for.
#include <windows.h>

#include <string>

int wmain() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  const std::wstring marker = std::wstring(path, length) + L".ran";
  const HANDLE file =
      ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  ::CloseHandle(file);
  return 0;
}
