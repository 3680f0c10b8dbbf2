// The initialisation screen's answers to its navigation bar: fullscreen and
// back to the exact earlier placement, exact message spellings, and the bar
// script's parts that the host and the service rely on.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/AppState.h"
#include "player/InitScreen.h"

namespace {

class InitScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_ = ::CreateWindowExW(0, L"STATIC", L"init", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 150, 120, 900, 600, nullptr,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    WindowState& windows = GetWindowState();
    windows.initFullscreen = false;
    WebViewHost::CurrentHosts().init = nullptr;
  }
  void TearDown() override { ::DestroyWindow(window_); }

  RECT Rect() const {
    RECT rect{};
    ::GetWindowRect(window_, &rect);
    return rect;
  }
  LONG_PTR Style() const { return ::GetWindowLongPtrW(window_, GWL_STYLE); }
  static RECT PrimaryMonitor() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoW(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    return monitor.rcMonitor;
  }

  HWND window_ = nullptr;
};

void ExpectSameRect(const RECT& actual, const RECT& expected) {
  EXPECT_EQ(actual.left, expected.left);
  EXPECT_EQ(actual.top, expected.top);
  EXPECT_EQ(actual.right, expected.right);
  EXPECT_EQ(actual.bottom, expected.bottom);
}

TEST_F(InitScreenTest, FullscreenTwiceRestoresTheExactPlacementAndKeepsOtherStyleBits) {
  const RECT before = Rect();
  const LONG_PTR styleBefore = Style();

  HandleInitMessage(window_, L"btn_fullscreen");
  EXPECT_TRUE(GetWindowState().initFullscreen);
  EXPECT_EQ(Style() & WS_OVERLAPPEDWINDOW, 0);
  EXPECT_NE(Style() & WS_VISIBLE, 0) << "unlike the player, the window keeps WS_VISIBLE";
  ExpectSameRect(Rect(), PrimaryMonitor());
  EXPECT_EQ(GetWindowState().savedPlacement.length, sizeof(WINDOWPLACEMENT));

  HandleInitMessage(window_, L"btn_fullscreen");
  EXPECT_FALSE(GetWindowState().initFullscreen);
  EXPECT_EQ(Style(), styleBefore);
  ExpectSameRect(Rect(), before);
}

TEST_F(InitScreenTest, AMaximizedWindowComesBackMaximized) {
  ::ShowWindow(window_, SW_MAXIMIZE);
  HandleInitMessage(window_, L"btn_fullscreen");
  HandleInitMessage(window_, L"btn_fullscreen");
  EXPECT_TRUE(::IsZoomed(window_));
  ::ShowWindow(window_, SW_RESTORE);
  const RECT restored = Rect();
  EXPECT_EQ(restored.left, 150) << "the normal placement survives the round trip";
  EXPECT_EQ(restored.right - restored.left, 900);
}

TEST_F(InitScreenTest, OnlyTheExactMessagesAct) {
  const RECT before = Rect();
  for (const wchar_t* message :
       {L"\"btn_fullscreen\"", L"btn_fullscreen ", L"BTN_FULLSCREEN", L"toggleFullscreen", L""}) {
    HandleInitMessage(window_, message);
  }
  EXPECT_FALSE(GetWindowState().initFullscreen);
  ExpectSameRect(Rect(), before);
  // No browser yet: Home and Back do nothing rather than crash.
  HandleInitMessage(window_, L"btn_home");
  HandleInitMessage(window_, L"btn_back");
}

TEST(InitScreen, FullscreenWithoutAWindowChangesNothing) {
  GetWindowState().initFullscreen = false;
  ToggleInitFullscreen(nullptr);
  EXPECT_FALSE(GetWindowState().initFullscreen);
}

TEST(NavBarScript, CarriesTheBarsContractWithTheHostAndThePage) {
  const std::wstring& script = NavBarScript();
  // The host acts on exactly these three messages.
  for (const wchar_t* message : {L"'btn_home'", L"'btn_back'", L"'btn_fullscreen'"}) {
    EXPECT_NE(script.find(message), std::wstring::npos) << message;
  }
  EXPECT_NE(script.find(L"window.chrome.webview.postMessage(msg)"), std::wstring::npos);
  // The label markup is fixed; pages style ".nav-text".
  EXPECT_NE(script.find(L"            b.innerHTML = '<span>' + icon + '</span><span class=\"nav-text\" "
                        L"style=\"max-width:0px;opacity:0;overflow:hidden;white-space:nowrap;transition:all 0.3s "
                        L"ease;margin-left:0px;\">' + text + '</span>';\n"),
            std::wstring::npos);
  // Shared with the player's overlay and across page loads.
  for (const wchar_t* name : {L"quella-full-loader", L"quella-nav-container", L"_quellaNavAdded",
                              L"_quellaLoaderTimeout", L"'qu_nx'", L"'qu_ny'", L"'beforeunload'", L"5000"}) {
    EXPECT_NE(script.find(name), std::wstring::npos) << name;
  }
  // The icons are the characters themselves; the house needs a surrogate pair.
  EXPECT_NE(script.find(L"'\xD83C\xDFE0', 'Home'"), std::wstring::npos);
  EXPECT_NE(script.find(L"'\x2190', 'Back'"), std::wstring::npos);
  EXPECT_NE(script.find(L"'\x26F6', 'Fullscreen', 'btn_fullscreen', true"), std::wstring::npos);
  EXPECT_EQ(script.find(L'\r'), std::wstring::npos);
  EXPECT_NE(script.back(), L'\n');
  std::printf("NavBarScript: %zu UTF-16 code units\n", script.size());
}

}  // namespace
