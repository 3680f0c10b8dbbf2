// The player window's answers to its pages: fullscreen and back, and the
// late "pageLoaded".
#include <windows.h>

#include <gtest/gtest.h>

#include "common/AppState.h"
#include "player/PlayerWindow.h"

namespace {

class PlayerWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ::CreateWindowExW(0, L"STATIC", L"player", WS_OVERLAPPEDWINDOW, 100, 100, 1280, 720, nullptr, nullptr,
                                nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    WindowState& windows = GetWindowState();
    windows.playerWindow = window_;
    windows.playerShown = false;
    windows.playerFullscreen = false;
  }
  void TearDown() override {
    GetWindowState().playerWindow = nullptr;
    ::DestroyWindow(window_);
  }

  RECT Rect() const {
    RECT rect{};
    ::GetWindowRect(window_, &rect);
    return rect;
  }
  // The system adds WS_CLIPSIBLINGS to top-level windows itself.
  LONG Style() const { return ::GetWindowLongW(window_, GWL_STYLE) & ~WS_CLIPSIBLINGS; }

  HWND window_ = nullptr;
};

TEST_F(PlayerWindowTest, ToggleTwiceReturnsToTheWindowedStyleAt1280By720) {
  HandlePlayerMessage(L"toggleFullscreen");
  EXPECT_TRUE(GetWindowState().playerFullscreen);
  EXPECT_EQ(static_cast<DWORD>(Style()) & 0xFFFF0000u, static_cast<DWORD>(WS_POPUP | WS_VISIBLE));
  MONITORINFO monitor{};
  monitor.cbSize = sizeof(monitor);
  ::GetMonitorInfoW(::MonitorFromWindow(window_, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT full = Rect();
  EXPECT_EQ(full.left, monitor.rcMonitor.left);
  EXPECT_EQ(full.right - full.left, monitor.rcMonitor.right - monitor.rcMonitor.left);
  EXPECT_EQ(full.bottom - full.top, monitor.rcMonitor.bottom - monitor.rcMonitor.top);

  HandlePlayerMessage(L"\"toggleFullscreen\"");  // the JSON-quoted form works the same
  EXPECT_FALSE(GetWindowState().playerFullscreen);
  EXPECT_EQ(static_cast<DWORD>(Style()) & 0xFFFF0000u, static_cast<DWORD>(WS_OVERLAPPEDWINDOW | WS_VISIBLE));
  const RECT windowed = Rect();
  EXPECT_EQ(windowed.right - windowed.left, 1280);
  EXPECT_EQ(windowed.bottom - windowed.top, 720);
  EXPECT_GE(windowed.left, monitor.rcWork.left) << "placed visibly on its monitor";
  EXPECT_GE(windowed.top, monitor.rcWork.top);
}

TEST_F(PlayerWindowTest, OtherSpellingsAreIgnored) {
  for (const wchar_t* message : {L"ToggleFullscreen", L"toggleFullscreen ", L"", L"\"pageloaded\""}) {
    HandlePlayerMessage(message);
  }
  EXPECT_FALSE(GetWindowState().playerFullscreen);
  EXPECT_FALSE(GetWindowState().playerShown);
}

TEST_F(PlayerWindowTest, PageLoadedShowsTheWindowOnlyOnce) {
  HandlePlayerMessage(L"pageLoaded");
  EXPECT_TRUE(GetWindowState().playerShown);
  EXPECT_TRUE(::IsWindowVisible(window_));
  ::ShowWindow(window_, SW_HIDE);
  HandlePlayerMessage(L"pageLoaded");  // after the show: nothing changes
  EXPECT_FALSE(::IsWindowVisible(window_));
}

TEST(PlayerWindow, MessagesBeforeTheWindowExistsAreIgnored) {
  GetWindowState().playerWindow = nullptr;
  GetWindowState().playerFullscreen = false;
  HandlePlayerMessage(L"toggleFullscreen");
  HandlePlayerMessage(L"pageLoaded");
  EXPECT_FALSE(GetWindowState().playerFullscreen);
}

}  // namespace
