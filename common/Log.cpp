#include "common/Log.h"

#include <windows.h>

void LogLine(const std::string& line) noexcept {
  ::OutputDebugStringA(line.c_str());
  ::OutputDebugStringA("\n");
}
