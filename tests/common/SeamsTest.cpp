#include "common/Seams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Seams, MessageBoxAndExitGoToTheInstalledStandIns) {
  std::vector<std::wstring> shown;
  std::vector<UINT> exits;
  seams::Hooks hooks;
  hooks.messageBox = [&](HWND, const std::wstring& text, const std::wstring& caption, UINT flags) {
    shown.push_back(caption + L"|" + text + L"|" + std::to_wstring(flags));
    return IDYES;
  };
  hooks.exitProcess = [&](UINT code) { exits.push_back(code); };
  seams::ScopedHooks scope(std::move(hooks));

  EXPECT_EQ(seams::ShowMessageBox(nullptr, L"text", L"title", MB_YESNO), IDYES);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], L"title|text|" + std::to_wstring(MB_YESNO));

  try {
    seams::EndProcess(3);
    FAIL() << "EndProcess must not return";
  } catch (const seams::ProcessExitRequested& exit) {
    EXPECT_EQ(exit.code, 3u);
  }
  EXPECT_EQ(exits, std::vector<UINT>{3});
}

int releases = 0;
void CountRelease() noexcept { ++releases; }

TEST(Seams, WhatMustBeLetGoGoesOnceBeforeTheEnd) {
  std::vector<int> releasesAtExit;
  seams::Hooks hooks;
  hooks.exitProcess = [&](UINT) { releasesAtExit.push_back(releases); };
  seams::ScopedHooks scope(std::move(hooks));
  releases = 0;
  seams::SetBeforeEndProcess(&CountRelease);
  for (int end = 0; end < 2; ++end) {
    try {
      seams::EndProcess(0);
    } catch (const seams::ProcessExitRequested&) {
    }
  }
  // Before the exit, and only once: a second ending finds nothing left.
  EXPECT_EQ(releasesAtExit, (std::vector<int>{1, 1}));
}

TEST(Seams, ScopesNestAndRestoreTheOuterStandIns) {
  int outerCalls = 0;
  int innerCalls = 0;
  seams::Hooks outer;
  outer.messageBox = [&](HWND, const std::wstring&, const std::wstring&, UINT) { return ++outerCalls, IDOK; };
  seams::ScopedHooks outerScope(std::move(outer));
  {
    seams::Hooks inner;
    inner.messageBox = [&](HWND, const std::wstring&, const std::wstring&, UINT) { return ++innerCalls, IDNO; };
    seams::ScopedHooks innerScope(std::move(inner));
    EXPECT_EQ(seams::ShowMessageBox(nullptr, L"", L"", 0), IDNO);
  }
  EXPECT_EQ(seams::ShowMessageBox(nullptr, L"", L"", 0), IDOK);
  EXPECT_EQ(outerCalls, 1);
  EXPECT_EQ(innerCalls, 1);
}

TEST(Seams, ShellExecuteStandInSeesTheArguments) {
  std::wstring seen;
  seams::Hooks hooks;
  hooks.shellExecute = [&](HWND, const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                           const std::wstring&, int show) {
    seen = verb + L" " + file + L" [" + parameters + L"] " + std::to_wstring(show);
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
  };
  hooks.sleep = [](std::chrono::milliseconds) {};
  seams::ScopedHooks scope(std::move(hooks));
  seams::ShellExecuteSeam(nullptr, L"open", L"https://example.invalid/", L"", L"", SW_SHOWNORMAL);
  EXPECT_EQ(seen, L"open https://example.invalid/ [] 1");
  seams::SleepFor(std::chrono::hours(1));  // returns at once through the stand-in
}

}  // namespace
