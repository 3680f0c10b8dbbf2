#include "common/Handles.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(Handles, OwnerClosesOnResetAndOnDestruction) {
  HANDLE raw = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(raw, nullptr);
  {
    UniqueHandle owner(raw);
    EXPECT_TRUE(owner);
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));

  UniqueHandle other(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE second = other.get();
  other.reset();
  EXPECT_FALSE(IsOpen(second));
  EXPECT_FALSE(other);
}

TEST(Handles, MoveTransfersOwnershipAndReleaseGivesItAway) {
  UniqueHandle first(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE raw = first.get();
  UniqueHandle second(std::move(first));
  EXPECT_EQ(first.get(), nullptr);
  EXPECT_EQ(second.get(), raw);

  UniqueHandle third;
  third = std::move(second);
  EXPECT_TRUE(IsOpen(raw));
  HANDLE released = third.release();
  EXPECT_EQ(released, raw);
  EXPECT_FALSE(third);
  EXPECT_TRUE(IsOpen(raw));
  ::CloseHandle(released);
}

TEST(Handles, InvalidHandleValueIsNotClosedOrCountedValid) {
  UniqueHandle owner(INVALID_HANDLE_VALUE);
  EXPECT_FALSE(owner);
  owner.reset();  // must not try to close the pseudo handle
  HANDLE file =
      ::CreateFileW(L"Z:\\this\\path\\does\\not\\exist.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  UniqueHandle missing(file);
  EXPECT_FALSE(missing);
}

TEST(Handles, PutReleasesTheOldValueBeforeAnApiWritesANewOne) {
  UniqueHandle owner(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const HANDLE old = owner.get();
  HANDLE* slot = owner.put();
  EXPECT_FALSE(IsOpen(old));
  EXPECT_EQ(*slot, nullptr);
  *slot = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // as an API writes it
  EXPECT_TRUE(owner);
}

TEST(Handles, GdiObjectsAreDeleted) {
  HBRUSH raw = ::CreateSolidBrush(RGB(1, 2, 3));
  ASSERT_NE(raw, nullptr);
  {
    UniqueGdiObject<HBRUSH> brush(raw);
    EXPECT_EQ(::GetObjectType(raw), static_cast<DWORD>(OBJ_BRUSH));
  }
  EXPECT_EQ(::GetObjectType(raw), 0u);
}

TEST(Handles, ScopeExitRunsUnlessDismissed) {
  int runs = 0;
  {
    ScopeExit guard([&] { ++runs; });
  }
  EXPECT_EQ(runs, 1);
  {
    ScopeExit guard([&] { ++runs; });
    guard.Dismiss();
  }
  EXPECT_EQ(runs, 1);
}

TEST(Handles, ComInitScopeBalancesItsOwnInitialisation) {
  ComInitScope outer(COINIT_APARTMENTTHREADED);
  ASSERT_TRUE(SUCCEEDED(outer.result()));
  {
    ComInitScope inner(COINIT_APARTMENTTHREADED);
    EXPECT_EQ(inner.result(), S_FALSE);  // already initialised: still counted, still balanced
  }
  // A different apartment on the same thread is refused and must not be uninitialised.
  ComInitScope wrong(COINIT_MULTITHREADED);
  EXPECT_EQ(wrong.result(), RPC_E_CHANGED_MODE);
}

}  // namespace
