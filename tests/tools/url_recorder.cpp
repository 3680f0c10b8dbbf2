// Test program registered as the handler of web addresses in the bed's
// prefix: instead of opening a browser it appends the address it was given
// to a file, so tests can see what the player asked the shell to open.
//   url_recorder FILE ADDRESS
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/Text.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  FILE* file = _wfopen(argv[1], L"ab");
  if (file == nullptr) return 1;
  const std::string line = WideToUtf8(argv[2]) + "\n";
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
  return 0;
}
