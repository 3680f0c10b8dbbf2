#include "common/FailureLog.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/Seams.h"

namespace {

// What every case starts with as the thread's last error; a helper that
// logs must leave the error the wrapped call set (or this one) in place.
constexpr DWORD kEarlierError = 1234;

// Stand-ins for the calls the helpers wrap.
HRESULT Hr(HRESULT value) { return value; }
BOOL BoolCall(DWORD error) {
  ::SetLastError(error);
  return error == ERROR_SUCCESS;
}
UINT_PTR IdCall(DWORD error) {
  ::SetLastError(error);
  return error == ERROR_SUCCESS ? 42 : 0;
}
LSTATUS StatusCall(LSTATUS status) { return status; }

int returnLine = 0;
HRESULT ReturnsIfFailed(HRESULT value) {
  returnLine = __LINE__ + 1;
  MIRAVELL_RETURN_IF_FAILED(Hr(value));
  return S_FALSE;  // went on past the check
}
int ReturnsValueIfFailed(HRESULT value) {
  returnLine = __LINE__ + 1;
  MIRAVELL_RETURN_VALUE_IF_FAILED(-1, Hr(value));
  return 1;
}

struct Outcome {
  long long value;
  int line;  // where the helper was used
};

#define CASE(...) [] { return Outcome{static_cast<long long>(__VA_ARGS__), __LINE__}; }
// The line is the one in the function that returned early.
#define RETURNED(...) [] { return Outcome{__VA_ARGS__, returnLine}; }

template <class Thrown>
Outcome LogCaught(Thrown thrown) {
  try {
    throw thrown;
  } catch (...) {
    ::SetLastError(kEarlierError);  // the throw itself may have changed it
    return Outcome{(MIRAVELL_LOG_CAUGHT_EXCEPTION(), 0), __LINE__};
  }
}

struct Case {
  const char* name;
  std::function<Outcome()> run;
  long long value;           // what the helper must hand back
  DWORD lastError;           // the thread's last error after it
  std::string lineUpToFile;  // the logged line before "<file>:<line>"; empty when nothing is logged
};

// Each helper passes the value through and logs only a failure, with the
// call, its code and the place.
void Check(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::vector<std::string> lines;
    seams::Hooks hooks;
    hooks.logLine = [&](const std::string& line) {
      lines.push_back(line);
      ::SetLastError(ERROR_INVALID_FUNCTION);  // as any call on the way out may
    };
    seams::ScopedHooks scope(std::move(hooks));

    ::SetLastError(kEarlierError);
    const Outcome outcome = c.run();
    const DWORD lastError = ::GetLastError();

    EXPECT_EQ(outcome.value, c.value) << c.name;
    EXPECT_EQ(lastError, c.lastError) << c.name;
    if (c.lineUpToFile.empty()) {
      EXPECT_EQ(lines, std::vector<std::string>{}) << c.name;
    } else {
      const std::string expected = c.lineUpToFile + __FILE__ + ":" + std::to_string(outcome.line);
      EXPECT_EQ(lines, std::vector<std::string>{expected}) << c.name;
    }
  }
}

TEST(FailureLog, TheLoggingHelpersPassTheValueThroughAndLogOnlyAFailure) {
  Check({
      {"HRESULT S_OK", CASE(MIRAVELL_LOG_IF_FAILED(Hr(S_OK))), S_OK, kEarlierError, ""},
      {"HRESULT S_FALSE is a success", CASE(MIRAVELL_LOG_IF_FAILED(Hr(S_FALSE))), S_FALSE, kEarlierError, ""},
      {"HRESULT failed", CASE(MIRAVELL_LOG_IF_FAILED(Hr(E_ACCESSDENIED))), E_ACCESSDENIED, kEarlierError,
       "Failure: 0x80070005 in Hr(E_ACCESSDENIED) at "},
      {"BOOL TRUE", CASE(MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(BoolCall(ERROR_SUCCESS))), TRUE, ERROR_SUCCESS, ""},
      {"BOOL FALSE", CASE(MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(BoolCall(ERROR_ACCESS_DENIED))), FALSE, ERROR_ACCESS_DENIED,
       "Failure: 0x00000005 in BoolCall(ERROR_ACCESS_DENIED) at "},
      {"id given", CASE(MIRAVELL_LOG_LAST_ERROR_IF_NULL(IdCall(ERROR_SUCCESS))), 42, ERROR_SUCCESS, ""},
      {"id zero", CASE(MIRAVELL_LOG_LAST_ERROR_IF_NULL(IdCall(ERROR_NOT_ENOUGH_MEMORY))), 0, ERROR_NOT_ENOUGH_MEMORY,
       "Failure: 0x00000008 in IdCall(ERROR_NOT_ENOUGH_MEMORY) at "},
      {"condition false", CASE(MIRAVELL_LOG_LAST_ERROR_IF(BoolCall(ERROR_SUCCESS) == FALSE)), false, ERROR_SUCCESS, ""},
      {"condition true", CASE(MIRAVELL_LOG_LAST_ERROR_IF(BoolCall(ERROR_ALREADY_EXISTS) == FALSE)), true,
       ERROR_ALREADY_EXISTS, "Failure: 0x000000B7 in BoolCall(ERROR_ALREADY_EXISTS) == FALSE at "},
      {"Win32 success", CASE(MIRAVELL_LOG_IF_WIN32_ERROR(StatusCall(ERROR_SUCCESS))), ERROR_SUCCESS, kEarlierError, ""},
      {"Win32 error", CASE(MIRAVELL_LOG_IF_WIN32_ERROR(StatusCall(ERROR_FILE_NOT_FOUND))), ERROR_FILE_NOT_FOUND,
       kEarlierError, "Failure: 0x00000002 in StatusCall(ERROR_FILE_NOT_FOUND) at "},
  });
}

TEST(FailureLog, TheReturningHelpersGoOnAfterASuccessAndReturnAfterALoggedFailure) {
  Check({
      {"return went on", RETURNED(ReturnsIfFailed(S_OK)), S_FALSE, kEarlierError, ""},
      {"return HRESULT", RETURNED(ReturnsIfFailed(E_FAIL)), E_FAIL, kEarlierError,
       "Failure: 0x80004005 in Hr(value) at "},
      {"return value went on", RETURNED(ReturnsValueIfFailed(S_OK)), 1, kEarlierError, ""},
      {"return value", RETURNED(ReturnsValueIfFailed(E_OUTOFMEMORY)), -1, kEarlierError,
       "Failure: 0x8007000E in Hr(value) at "},
  });
}

TEST(FailureLog, ACaughtExceptionIsLoggedWithItsTextOnOneLine) {
  Check({
      {"std::exception", [] { return LogCaught(std::runtime_error("disk\r\nfull")); }, 0, kEarlierError,
       "Failure: exception \"disk  full\" caught at "},
      {"any other exception", [] { return LogCaught(42); }, 0, kEarlierError, "Failure: unknown exception caught at "},
  });
}

}  // namespace
