// Stands in for a DLL someone left beside the player (WebView2Loader.dll,
// winhttp.dll...): when any process loads it, it leaves "<its path>.loaded"
// behind, which the tests look for.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  const std::wstring marker = std::wstring(path, length) + L".loaded";
  const HANDLE file =
      ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return TRUE;
}
