#pragma once
// Failures the program survives on purpose still leave a trace: the failing
// call as written, its code in hex and where it was made go to the step log,
// one line each, always starting with kFailureLinePrefix so that readers of
// the log can tell them from the steps:
//
//   Failure: 0x00002EE9 in SetDword(request, WINHTTP_OPTION_GLOBAL_SERVER_CREDS, 1) at net/WinHttpRequest.cpp:31
//   Failure: exception "WinHttpOpen failed" caught at net/Pinning.cpp:247
//
// Only the source text of the call and its code are written, never a value
// it carried: a link, a key, a token or a decrypted text must not reach the
// log through here (so an exception whose text holds one must not be thrown
// where it can reach MIRAVELL_LOG_CAUGHT_EXCEPTION).
//
// Every helper hands back the value it was given, never throws and leaves
// the thread's last error as the failed call set it, so wrapping a call
// changes nothing but the log:
//
//   if (FAILED(MIRAVELL_LOG_IF_FAILED(webview->get_Settings(&settings)))) return;
//   if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::EmptyClipboard())) return;
#include <windows.h>

namespace failure_log {

inline constexpr char kFailureLinePrefix[] = "Failure: ";

// "Failure: 0x<code> in <call> at <file>:<line>".
void LogFailure(const char* call, unsigned long code, const char* file, int line) noexcept;

// The same with the calling thread's last error as the code.
void LogLastError(const char* call, const char* file, int line) noexcept;

// The exception being handled: its what() for a std::exception, else that
// it was unknown. Only inside a catch block.
void LogCaughtException(const char* file, int line) noexcept;

inline HRESULT LogIfFailed(HRESULT value, const char* call, const char* file, int line) noexcept {
  if (FAILED(value)) LogFailure(call, static_cast<unsigned long>(value), file, line);
  return value;
}

// A BOOL, handle, atom or timer id: zero or null is the failure, and the
// last error says why.
template <typename T>
T LogLastErrorIfFalse(T value, const char* call, const char* file, int line) noexcept {
  if (!value) LogLastError(call, file, line);
  return value;
}

inline bool LogLastErrorIf(bool condition, const char* text, const char* file, int line) noexcept {
  if (condition) LogLastError(text, file, line);
  return condition;
}

// A Win32 error code (LSTATUS, DWORD): anything but ERROR_SUCCESS.
template <typename T>
T LogIfWin32Error(T value, const char* call, const char* file, int line) noexcept {
  if (value != 0) LogFailure(call, static_cast<unsigned long>(value), file, line);
  return value;
}

}  // namespace failure_log

// Log-and-continue. Each evaluates its argument once and yields its value.

// An HRESULT that failed.
#define MIRAVELL_LOG_IF_FAILED(...) (::failure_log::LogIfFailed((__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__))
// A BOOL that is FALSE; the code is GetLastError right after the call.
#define MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(...) \
  (::failure_log::LogLastErrorIfFalse((__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__))
// A handle, atom or id that is null or zero; the code is GetLastError.
#define MIRAVELL_LOG_LAST_ERROR_IF_NULL(...) \
  (::failure_log::LogLastErrorIfFalse((__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__))
// A condition that holds; the code is GetLastError. For failures no return
// value alone shows (INVALID_HANDLE_VALUE, an error code that does not count).
#define MIRAVELL_LOG_LAST_ERROR_IF(...) \
  (::failure_log::LogLastErrorIf(static_cast<bool>(__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__))
// A Win32 error code other than ERROR_SUCCESS.
#define MIRAVELL_LOG_IF_WIN32_ERROR(...) \
  (::failure_log::LogIfWin32Error((__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__))

// Log-and-return: a failed HRESULT ends the calling function, returning
// that HRESULT or the given value.
#define MIRAVELL_RETURN_VALUE_IF_FAILED(value, ...)                                                                  \
  do {                                                                                                               \
    const HRESULT miravellFailedResult = (__VA_ARGS__);                                                              \
    if (FAILED(miravellFailedResult)) {                                                                              \
      ::failure_log::LogFailure(#__VA_ARGS__, static_cast<unsigned long>(miravellFailedResult), __FILE__, __LINE__); \
      return value;                                                                                                  \
    }                                                                                                                \
  } while (false)

// The value is read inside the block, where the failed HRESULT has a name.
#define MIRAVELL_RETURN_IF_FAILED(...) MIRAVELL_RETURN_VALUE_IF_FAILED(miravellFailedResult, __VA_ARGS__)

// Log-and-return for the other kinds of failure: the calling function ends,
// returning the given value (left empty in a function that returns nothing).
//   MIRAVELL_RETURN_VALUE_IF_WIN32_BOOL_FALSE(false, ::EmptyClipboard());
//   MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(, !snapshot);
#define MIRAVELL_RETURN_VALUE_IF_WIN32_BOOL_FALSE(value, ...)                                   \
  do {                                                                                          \
    if (!::failure_log::LogLastErrorIfFalse((__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__)) { \
      return value;                                                                             \
    }                                                                                           \
  } while (false)
#define MIRAVELL_RETURN_VALUE_LAST_ERROR_IF_NULL(value, ...) \
  MIRAVELL_RETURN_VALUE_IF_WIN32_BOOL_FALSE(value, __VA_ARGS__)
#define MIRAVELL_RETURN_VALUE_LAST_ERROR_IF(value, ...)                                                    \
  do {                                                                                                     \
    if (::failure_log::LogLastErrorIf(static_cast<bool>(__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__)) { \
      return value;                                                                                        \
    }                                                                                                      \
  } while (false)
#define MIRAVELL_RETURN_VALUE_IF_WIN32_ERROR(value, ...)                                        \
  do {                                                                                          \
    if (::failure_log::LogIfWin32Error((__VA_ARGS__), #__VA_ARGS__, __FILE__, __LINE__) != 0) { \
      return value;                                                                             \
    }                                                                                           \
  } while (false)

// Inside a catch block whose exception is swallowed on purpose.
#define MIRAVELL_LOG_CAUGHT_EXCEPTION() ::failure_log::LogCaughtException(__FILE__, __LINE__)

// Catch clauses that log whatever was thrown, once, then go on after the try
// block or return the value:
//   try { ... } MIRAVELL_CATCH_LOG()
//   try { ... } MIRAVELL_CATCH_RETURN(std::nullopt)
#define MIRAVELL_CATCH_LOG()         \
  catch (...) {                      \
    MIRAVELL_LOG_CAUGHT_EXCEPTION(); \
  }
#define MIRAVELL_CATCH_RETURN(value) \
  catch (...) {                      \
    MIRAVELL_LOG_CAUGHT_EXCEPTION(); \
    return value;                    \
  }
