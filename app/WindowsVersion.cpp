#include "app/WindowsVersion.h"

#include <windows.h>

#include "common/Config.h"
#include "common/FailureLog.h"

int ClassifyWindowsVersion(unsigned long major, unsigned long minor, unsigned long build) noexcept {
  if (major >= 10) return build >= 22000 ? 11 : 10;
  if (major == 6) return minor < 2 ? 7 : 8;
  return -1;
}

int GetWindowsVersion() noexcept {
  // GetVersionExW lies to programs whose manifest does not name the running
  // release; the native query does not.
  using VersionQuery = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  static_assert(sizeof(OSVERSIONINFOEXW) == 284);
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);
  try {
    const std::wstring module = config::Wide(config::Id::VersionQueryModule);
    const std::string function = config::Text(config::Id::VersionQueryFunction);
    if (HMODULE ntdll = ::GetModuleHandleW(module.c_str())) {
      if (auto query =
              reinterpret_cast<VersionQuery>(reinterpret_cast<void*>(::GetProcAddress(ntdll, function.c_str())))) {
        query(&info);
      }
    }
  } catch (...) {
    // Out of memory while rebuilding the names: the record stays zero.
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
  }
  return ClassifyWindowsVersion(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}
