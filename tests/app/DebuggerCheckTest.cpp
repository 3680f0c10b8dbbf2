// The debugger check in a process nobody debugs.
#include <gtest/gtest.h>

#include "app/DebuggerCheck.h"

namespace {

TEST(DebuggerCheck, AnUndebuggedProcessShowsNoSignalAndChecksLeakNoHandle) {
  const DebugSignals signals = ReadDebugSignals();
  EXPECT_FALSE(DebuggerAttached(signals));
  EXPECT_EQ(signals.debugPort, 0u);
  DWORD before = 0;
  DWORD after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  for (int i = 0; i < 200; ++i) (void)ReadDebugSignals();
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
  EXPECT_LE(after, before + 2) << "the guard reads these every few seconds";
}

}  // namespace
