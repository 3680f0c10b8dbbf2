#include "common/FailureLog.h"

#include <cstdio>
#include <exception>
#include <string>

#include "common/Log.h"

namespace failure_log {
namespace {

// Restores the thread's last error when the logging is done: code after a
// logged call may still read the error that call left.
class LastErrorKept {
 public:
  LastErrorKept() noexcept : error_(::GetLastError()) {}
  ~LastErrorKept() { ::SetLastError(error_); }
  LastErrorKept(const LastErrorKept&) = delete;
  LastErrorKept& operator=(const LastErrorKept&) = delete;
  [[nodiscard]] DWORD error() const noexcept { return error_; }

 private:
  DWORD error_;
};

std::string Where(const char* file, int line) { return std::string(file) + ":" + std::to_string(line); }

// One line per failure: a line break inside an exception's text would start
// a line without the prefix.
std::string OnOneLine(std::string text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  return text;
}

void Write(const std::string& what) noexcept {
  try {
    LogLine(kFailureLinePrefix + what);
  } catch (...) {
    // Out of memory while building the line: nothing more can be said.
  }
}

void LogCode(const char* call, unsigned long code, const char* file, int line) noexcept {
  try {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08lX", code);
    Write(std::string(hex) + " in " + call + " at " + Where(file, line));
  } catch (...) {
    // As in Write.
  }
}

}  // namespace

void LogFailure(const char* call, unsigned long code, const char* file, int line) noexcept {
  const LastErrorKept kept;
  LogCode(call, code, file, line);
}

void LogLastError(const char* call, const char* file, int line) noexcept {
  const LastErrorKept kept;
  LogCode(call, kept.error(), file, line);
}

void LogCaughtException(const char* file, int line) noexcept {
  const LastErrorKept kept;
  try {
    const std::exception_ptr caught = std::current_exception();
    if (!caught) return Write("unknown exception caught at " + Where(file, line));
    try {
      std::rethrow_exception(caught);
    } catch (const std::exception& e) {
      Write("exception \"" + OnOneLine(e.what()) + "\" caught at " + Where(file, line));
    } catch (...) {
      Write("unknown exception caught at " + Where(file, line));
    }
  } catch (...) {
    // As in Write.
  }
}

}  // namespace failure_log
