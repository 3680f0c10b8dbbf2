// When a window recovers from its engine's failures, when it gives up, and
// which failed loads get the program's own page.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "player/EngineRecovery.h"

namespace {

constexpr auto kBrowser = COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED;
constexpr auto kRender = COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED;
constexpr auto kHung = COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE;
constexpr auto kGpu = COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED;

TEST(EngineRecovery, FailuresAreJoinedCountedPerMinuteAndTheThirdAsks) {
  struct Event {
    COREWEBVIEW2_PROCESS_FAILED_KIND kind;
    std::uint64_t at;
    Recovery expected;
    bool navigatedBefore = true;  // the last recovery's navigation began
  };
  const struct {
    const char* name;
    std::vector<Event> events;
  } cases[] = {
      {"each kind's own action", {{kRender, 0, Recovery::Reload}, {kHung, 10'000, Recovery::Reload}}},
      {"a browser exit starts the engine again", {{kBrowser, 0, Recovery::Recreate}}},
      {"GPU and utility exits are the engine's own business, never counted",
       {{kGpu, 0, Recovery::LogOnly},
        {kRender, 1'000, Recovery::Reload},
        {COREWEBVIEW2_PROCESS_FAILED_KIND_UTILITY_PROCESS_EXITED, 5'000, Recovery::LogOnly},
        {kGpu, 6'000, Recovery::LogOnly},
        {kRender, 10'000, Recovery::Reload}}},
      {"the third failure within a minute asks, however close they come once each was handled",
       {{kBrowser, 0, Recovery::Recreate}, {kBrowser, 500, Recovery::Recreate}, {kRender, 900, Recovery::GiveUp}}},
      {"a failure a minute old no longer counts",
       {{kRender, 0, Recovery::Reload}, {kRender, 30'000, Recovery::Reload}, {kRender, 60'000, Recovery::Reload}}},
      {"a browser exit right after its renderer's is the same failure, started again",
       {{kRender, 0, Recovery::Reload},
        {kBrowser, 500, Recovery::Recreate, false},
        {kRender, 900, Recovery::Ignore, false},
        {kBrowser, 30'000, Recovery::Recreate}}},
      {"renderers going together are one failure; joining ends after a moment",
       {{kRender, 0, Recovery::Reload},
        {kHung, 300, Recovery::Ignore, false},
        {kRender, 1'500, Recovery::Ignore, false},
        {kRender, 2'100, Recovery::Reload, false}}},
  };
  for (const auto& c : cases) {
    RecoveryPolicy policy;
    for (const Event& event : c.events) {
      if (event.navigatedBefore) policy.NoteNavigation();
      EXPECT_EQ(policy.Decide(event.kind, 100'000 + event.at), event.expected) << c.name << " at " << event.at;
    }
  }

  RecoveryPolicy policy;
  for (std::uint64_t at : {0, 10'000}) {
    policy.Decide(kRender, at);
    policy.NoteNavigation();
  }
  EXPECT_EQ(policy.Decide(kRender, 20'000), Recovery::GiveUp);
  policy.Forget();  // the student chose to try again
  EXPECT_EQ(policy.Decide(kRender, 20'500), Recovery::Reload);
  EXPECT_EQ(policy.recentFailures(), 1);
}

TEST(EngineRecovery, TheStepLogSaysWhatFailedAndWhatIsDone) {
  EXPECT_EQ(
      DescribeEngineFailure(kRender, COREWEBVIEW2_PROCESS_FAILED_REASON_CRASHED, -1073741819, Recovery::Reload, 1),
      "Engine: render process exited (crashed, exit code -1073741819); reloading the page "
      "(failure 1 of 3 within a minute)");
  EXPECT_EQ(DescribeEngineFailure(kGpu, COREWEBVIEW2_PROCESS_FAILED_REASON_UNEXPECTED, 0, Recovery::LogOnly, 0),
            "Engine: GPU process exited (unexpected, exit code 0); the engine restarts it");
}

TEST(EngineRecovery, OnlyFailuresTheStudentCanActOnGetTheRetryPage) {
  const struct {
    bool success;
    COREWEBVIEW2_WEB_ERROR_STATUS status;
    int http;
    std::optional<LoadFailure> expected;
  } cases[] = {
      {true, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN, 200, std::nullopt},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_DISCONNECTED, 0, LoadFailure::NoNetwork},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_HOST_NAME_NOT_RESOLVED, 0, LoadFailure::HostNotFound},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_CANNOT_CONNECT, 0, LoadFailure::Unreachable},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_CONNECTION_RESET, 0, LoadFailure::Unreachable},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_TIMEOUT, 0, LoadFailure::Timeout},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_EXPIRED, 0, LoadFailure::NotSecure},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_CERTIFICATE_IS_INVALID, 0, LoadFailure::NotSecure},
      // 5xx, whichever way the engine reports it.
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN, 500, LoadFailure::ServerError},
      {true, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN, 500, LoadFailure::ServerError},
      // A gateway's, or the request filter's for a host it could not reach.
      {true, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN, 503, LoadFailure::Unreachable},
      // The policy's own cancel, a navigation replaced by the next, the
      // site's own error pages and sign-in prompts stay as they are.
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_OPERATION_CANCELED, 0, std::nullopt},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN, 404, std::nullopt},
      {false, COREWEBVIEW2_WEB_ERROR_STATUS_VALID_AUTHENTICATION_CREDENTIALS_REQUIRED, 401, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyLoad(c.success, c.status, c.http), c.expected) << c.status << " " << c.http;
  }
}

TEST(EngineRecovery, TheRetryPageNamesItsLoadAndPostsTheRetryMessage) {
  const std::wstring lesson = LoadFailedPage(L"Miravell <b>", LoadFailure::HostNotFound, true);
  EXPECT_NE(lesson.find(L"<title>Miravell &lt;b&gt;</title>"), std::wstring::npos);
  EXPECT_NE(lesson.find(L"The lesson could not be loaded"), std::wstring::npos);
  EXPECT_NE(lesson.find(L"could not be found"), std::wstring::npos);
  EXPECT_NE(lesson.find(std::wstring(L"postMessage('") + kRetryLoadMessage + L"')"), std::wstring::npos);
  EXPECT_NE(LoadFailedPage(L"Miravell", LoadFailure::ServerError, false).find(L"The page could not be loaded"),
            std::wstring::npos);
}

}  // namespace
