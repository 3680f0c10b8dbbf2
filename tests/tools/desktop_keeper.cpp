// Test-bed program: holds a hidden window on the Wine desktop for the whole
// test run. While any program uses the desktop, Wine keeps its desktop
// process (and with it the clipboard manager) alive instead of starting a
// new one for every program, whose start races with the program's own
// clipboard writes.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  HWND window = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"desktop keeper", WS_POPUP, 0, 0, 1, 1, nullptr,
                                  nullptr, nullptr, nullptr);
  if (window == nullptr) return 1;
  MSG message{};
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) ::DispatchMessageW(&message);
  return 0;
}
