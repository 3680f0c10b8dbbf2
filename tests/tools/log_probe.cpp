// Test program: each command-line argument becomes one LogLine; exit code 7
// so the runner can tell it ran to the end.
#include <windows.h>

#include "common/Log.h"
#include "common/Text.h"

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) LogLine(WideToUtf8(argv[i]));
  return 7;
}
