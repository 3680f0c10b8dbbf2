#include "common/Log.h"

#include <windows.h>

#include "common/Seams.h"

void LogLine(const std::string& line) noexcept {
  if (seams::DivertLogLine(line)) return;
  ::OutputDebugStringA(line.c_str());
  ::OutputDebugStringA("\n");
}
