#pragma once
// Console output of the tools: UTF-8 bytes as they are, "\n" line ends, so a
// script reading a pipe gets exactly the texts the player works with.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>

namespace console {

// Binary streams (no "\r" added) and a UTF-8 console code page for people
// reading on a console window.
inline void Prepare() {
  (void)_setmode(_fileno(stdout), _O_BINARY);
  (void)_setmode(_fileno(stderr), _O_BINARY);
  ::SetConsoleOutputCP(CP_UTF8);
}

inline void WriteTo(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);
}

// One line on standard output.
inline void Line(std::string_view text) { WriteTo(stdout, text); }

// One line on standard error.
inline void ErrorLine(std::string_view text) { WriteTo(stderr, text); }

// Runs a tool's body: any exception that escapes it becomes one message on
// standard error and the failure exit code.
template <typename Body>
int RunGuarded(std::string_view tool, int failureCode, Body body) {
  Prepare();
  try {
    return body();
  } catch (const std::exception& e) {
    ErrorLine(std::string(tool) + ": " + e.what());
  } catch (...) {
    ErrorLine(std::string(tool) + ": unexpected failure");
  }
  return failureCode;
}

}  // namespace console
