#include "app/WindowsVersion.h"

#include <windows.h>

#include "common/NativeVersion.h"

int ClassifyWindowsVersion(unsigned long major, unsigned long minor, unsigned long build) noexcept {
  if (major >= 10) return build >= 22000 ? 11 : 10;
  if (major == 6) return minor < 2 ? 7 : 8;
  return -1;
}

int GetWindowsVersion() noexcept {
  OSVERSIONINFOEXW info{};
  QueryNativeVersion(info);
  return ClassifyWindowsVersion(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}
