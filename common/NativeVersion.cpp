#include "common/NativeVersion.h"

#include <string>

#include "common/Config.h"
#include "common/FailureLog.h"

void QueryNativeVersion(OSVERSIONINFOEXW& info) noexcept {
  using VersionQuery = LONG(WINAPI*)(OSVERSIONINFOEXW*);
  static_assert(sizeof(OSVERSIONINFOEXW) == 284);
  info = OSVERSIONINFOEXW{};
  info.dwOSVersionInfoSize = sizeof(info);
  try {
    const std::wstring module = config::Wide(config::Id::VersionQueryModule);
    const std::string function = config::Text(config::Id::VersionQueryFunction);
    if (HMODULE ntdll = ::GetModuleHandleW(module.c_str())) {
      if (auto query =
              reinterpret_cast<VersionQuery>(reinterpret_cast<void*>(::GetProcAddress(ntdll, function.c_str())))) {
        if (query(&info) != 0) {
          info = OSVERSIONINFOEXW{};
          info.dwOSVersionInfoSize = sizeof(info);
        }
      }
    }
  }
  // Out of memory while rebuilding the names: the record stays zero.
  MIRAVELL_CATCH_LOG()
}
