// The update flow's questions and outcomes, with the user's answers and the
// shell played by stand-ins.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/UpdateFlow.h"
#include "common/Config.h"
#include "common/Seams.h"
#include "common/Text.h"

namespace {

struct Outcome {
  std::vector<std::wstring> titles;
  std::vector<UINT> flags;
  std::vector<std::wstring> opened;
  std::optional<UINT> exitCode;
  bool returned = false;
  bool hasUpdate = false;
};

Outcome RunFlow(const VersionInfo& info, int answer) {
  Outcome outcome;
  seams::Hooks hooks;
  hooks.messageBox = [&](HWND owner, const std::wstring&, const std::wstring& title, UINT flags) {
    EXPECT_EQ(owner, nullptr);
    outcome.titles.push_back(title);
    outcome.flags.push_back(flags);
    return answer;
  };
  // The download opens with the student's rights, never through the
  // elevated ShellExecute the seam falls back to.
  hooks.openForUser = [&](const std::wstring& address) {
    outcome.opened.push_back(address);
    return true;
  };
  hooks.shellExecute = [&](HWND, const std::wstring&, const std::wstring& file, const std::wstring&,
                           const std::wstring&, int) {
    ADD_FAILURE() << "opened elevated: " << WideToUtf8(file);
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
  };
  hooks.exitProcess = [&](UINT code) { outcome.exitCode = code; };
  seams::ScopedHooks scope(std::move(hooks));
  try {
    outcome.hasUpdate = HandleUpdateAnswer(info);
    outcome.returned = true;
  } catch (const seams::ProcessExitRequested&) {
  }
  return outcome;
}

const std::wstring kLink = L"https://files." + config::Wide(config::Id::ServiceDomain2) + L"/Miravell-4.9.exe";

TEST(UpdateFlow, NoUpdateAsksNothing) {
  const Outcome outcome = RunFlow({false, false, L""}, IDYES);
  EXPECT_TRUE(outcome.returned);
  EXPECT_FALSE(outcome.hasUpdate);
  EXPECT_TRUE(outcome.titles.empty());
}

TEST(UpdateFlow, OptionalUpdateAcceptedOpensTheDownloadAndEndsWith0) {
  const Outcome outcome = RunFlow({true, false, kLink}, IDYES);
  EXPECT_EQ(outcome.titles, std::vector<std::wstring>{L"Miravell - Update Available"});
  EXPECT_EQ(outcome.flags[0], static_cast<UINT>(MB_YESNO | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST));
  EXPECT_EQ(outcome.opened, std::vector<std::wstring>{kLink});
  EXPECT_EQ(outcome.exitCode, 0u);
}

TEST(UpdateFlow, OptionalUpdateDeclinedLetsTheStartGoOn) {
  for (const int answer : {IDNO, IDCANCEL, 0}) {
    const Outcome outcome = RunFlow({true, false, kLink}, answer);
    EXPECT_TRUE(outcome.returned);
    EXPECT_TRUE(outcome.hasUpdate);
    EXPECT_TRUE(outcome.opened.empty());
    EXPECT_FALSE(outcome.exitCode.has_value());
  }
}

TEST(UpdateFlow, MandatoryUpdateEndsWith0WhateverTheAnswer) {
  Outcome outcome = RunFlow({true, true, kLink}, IDOK);
  EXPECT_EQ(outcome.titles, std::vector<std::wstring>{L"Miravell - Update Required"});
  EXPECT_EQ(outcome.flags[0], static_cast<UINT>(MB_OKCANCEL | MB_ICONWARNING | MB_SETFOREGROUND | MB_TOPMOST));
  EXPECT_EQ(outcome.opened, std::vector<std::wstring>{kLink});
  EXPECT_EQ(outcome.exitCode, 0u);

  outcome = RunFlow({true, true, kLink}, IDCANCEL);
  EXPECT_TRUE(outcome.opened.empty()) << "closing the message does not open the download";
  EXPECT_EQ(outcome.exitCode, 0u);
}

TEST(UpdateFlow, OnlyHttpsAddressesOnServiceHostsAreOpened) {
  const std::wstring fallback = config::Wide(config::Id::FallbackDownloadUrl);
  const std::wstring service = config::Wide(config::Id::ServiceDomain2);
  EXPECT_EQ(RunFlow({true, false, L""}, IDYES).opened, std::vector<std::wstring>{fallback});
  for (const std::wstring& unsafe :
       {std::wstring(L"C:\\Windows\\System32\\calc.exe"), std::wstring(L"file:///C:/Windows/System32/calc.exe"),
        std::wstring(L"\\\\server\\share\\setup.exe"), std::wstring(L"javascript:alert(1)"),
        std::wstring(L"ms-settings:"), std::wstring(L"HTTP://files.example/a.exe"),
        std::wstring(L"https://files.example/a.exe"), L"http://files." + service + L"/a.exe",
        L"https://files." + service + L".example/a.exe"}) {
    EXPECT_EQ(RunFlow({true, false, unsafe}, IDYES).opened, std::vector<std::wstring>{fallback}) << WideToUtf8(unsafe);
    EXPECT_EQ(RunFlow({true, true, unsafe}, IDOK).opened, std::vector<std::wstring>{fallback}) << WideToUtf8(unsafe);
  }
}

TEST(UpdateFlow, BuiltInVersionReadsAsADecimalNumber) {
  EXPECT_DOUBLE_EQ(CurrentVersionNumber(L"4.8.0"), 4.8);
  EXPECT_DOUBLE_EQ(CurrentVersionNumber(L"  5"), 5.0);
  EXPECT_DOUBLE_EQ(CurrentVersionNumber(L"v4.8"), 3.0);
  EXPECT_DOUBLE_EQ(CurrentVersionNumber(L""), 3.0);
  EXPECT_DOUBLE_EQ(CurrentVersionNumber(L"1e999"), 3.0);
}

}  // namespace
