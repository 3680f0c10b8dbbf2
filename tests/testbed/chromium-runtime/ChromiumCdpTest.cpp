// Debian's Chromium started from inside Wine and driven over the DevTools
// pipe: arguments reach the Unix side intact, a page loads and runs script,
// a screencast frame arrives, and the browser is gone after Close and after
// a host that hangs up without a word.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Base64.h"
#include "common/Text.h"
#include "testbed/chromium-runtime/ChromiumBrowser.h"

namespace {

using chromium_runtime::CdpClient;
using chromium_runtime::CdpEvent;
using chromium_runtime::CdpReply;
using chromium_runtime::CdpStatus;
using chromium_runtime::ChromiumBrowser;
using chromium_runtime::ChromiumOptions;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The options of a browser on a fresh profile in the temporary folder, which
// goes afterwards with the browser's log.
class TempProfile {
 public:
  explicit TempProfile(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::filesystem::path(temp) / (L"miravell-cdp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name);
    std::filesystem::remove_all(path_, ignored_);
    std::filesystem::create_directories(path_, ignored_);
    options.profileFolder = (path_ / L"profile").wstring();
    options.logFile = (path_ / L"chromium.log").wstring();
    // The same override the page-script browser tests honour.
    wchar_t chromium[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"MIRAVELL_CHROMIUM", chromium, MAX_PATH);
    if (length > 0 && length < MAX_PATH) options.executable = WideToUtf8(chromium);
  }
  ~TempProfile() { std::filesystem::remove_all(path_, ignored_); }
  TempProfile(const TempProfile&) = delete;
  TempProfile& operator=(const TempProfile&) = delete;

  ChromiumOptions options;

 private:
  std::filesystem::path path_;
  std::error_code ignored_;
};

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Pumps the client on this thread, as the UI thread would, until done says
// so or the timeout passes.
bool PumpUntil(CdpClient& cdp, const std::function<bool()>& done, milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    cdp.Pump();
    if (done()) return true;
    const long long left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    ::WaitForSingleObject(cdp.ReadyEvent(), static_cast<DWORD>(left));
  }
}

// The member at a JSON pointer ("/result/value"), null when missing.
nlohmann::json At(const nlohmann::json& value, const std::string& pointer) {
  const nlohmann::json::json_pointer at(pointer);
  return value.contains(at) ? value.at(at) : nlohmann::json();
}

std::string Describe(const CdpReply& reply) {
  return std::to_string(static_cast<int>(reply.status)) + " " + reply.value.dump();
}

// The result of a command that must succeed; an empty object when it did not.
nlohmann::json Result(CdpClient& cdp, std::string_view method, const nlohmann::json& params,
                      const std::string& session = {}) {
  const CdpReply reply = cdp.Send(method, params, session);
  EXPECT_TRUE(reply.ok()) << method << ": " << Describe(reply);
  return reply.ok() ? reply.value : nlohmann::json::object();
}

TEST(UnixChildTest, ArgumentsReachTheUnixSideIntact) {
  // Caller-given text crosses Windows' command-line rules (Wine's Unix
  // launcher) and then sh; none of it may be split, joined or run.
  const std::vector<std::string> hostile = {
      "",
      "two words",
      "it's",
      "say \"hi\"",
      "\\\"",
      "C:\\Program Files\\x\\\\",
      "$(touch /tmp/miravell-injected) `id` $HOME ; exit 7 & | > * ~",
      "line\nbreak\ttab",
      "\xC3\xBC\xC3\xB1\xC3\xAF \xE2\x98\x83",
  };
  std::vector<std::string> argv = {"/bin/sh", "-c", "printf '%s\\0' \"$@\" >&4", "sh"};
  argv.insert(argv.end(), hostile.begin(), hostile.end());

  chromium_runtime::UnixChild child = chromium_runtime::StartUnixChild(argv, {}, milliseconds(10000));
  const DWORD tenSeconds = 10000;
  ASSERT_EQ(::setsockopt(child.channel.socket.get(), SOL_SOCKET, SO_RCVTIMEO,
                         reinterpret_cast<const char*>(&tenSeconds), sizeof(tenSeconds)),
            0);
  std::string received;
  std::array<char, 4096> chunk{};
  for (int got; (got = ::recv(child.channel.socket.get(), chunk.data(), static_cast<int>(chunk.size()), 0)) > 0;) {
    received.append(chunk.data(), static_cast<std::size_t>(got));
  }
  std::vector<std::string> arrived;
  for (std::size_t start = 0, end; (end = received.find('\0', start)) != std::string::npos; start = end + 1) {
    arrived.push_back(received.substr(start, end - start));
  }
  EXPECT_EQ(arrived, hostile);
  EXPECT_TRUE(chromium_runtime::WaitUntilGroupGone(child.process, milliseconds(5000)));
}

// An event of the page's session after the data: page committed, so that
// a late load event of about:blank cannot pass for the page's.
std::function<bool()> SeenAfterDataPage(const std::vector<CdpEvent>& events, const std::string& session,
                                        const char* method) {
  return [&events, &session, method] {
    bool committed = false;
    for (const CdpEvent& event : events) {
      if (event.sessionId != session) continue;
      if (event.method == "Page.frameNavigated") {
        const nlohmann::json url = At(event.params, "/frame/url");
        committed = url.is_string() && url.get<std::string>().starts_with("data:");
      } else if (committed && event.method == method) {
        return true;
      }
    }
    return false;
  };
}

TEST(ChromiumBrowserTest, DrivesAPageThroughTheDevToolsPipe) {
  TempProfile profile(L"page");
  const Clock::time_point started = Clock::now();
  ChromiumBrowser browser(profile.options);
  std::printf("[ figures  ] start to first answer: %lld ms (%s)\n", MillisecondsSince(started),
              browser.version().value("product", "?").c_str());
  CdpClient& cdp = browser.cdp();
  std::vector<CdpEvent> events;
  cdp.SetEventHandler([&](const CdpEvent& event) { events.push_back(event); });
  std::atomic<int> wakeUps = 0;
  cdp.SetWakeUp([&] { ++wakeUps; });
  // about:blank in a target of its own, attached to.
  const nlohmann::json target = Result(cdp, "Target.createTarget", {{"url", "about:blank"}});
  const std::string session =
      Result(cdp, "Target.attachToTarget", {{"targetId", At(target, "/targetId")}, {"flatten", true}})
          .value("sessionId", std::string());
  ASSERT_FALSE(session.empty());

  EXPECT_EQ(At(Result(cdp, "Runtime.evaluate", {{"expression", "1+1"}}, session), "/result/value"), 2);
  const CdpReply unknown = cdp.Send("Page.noSuchCommand", nlohmann::json::object(), session);
  EXPECT_EQ(unknown.status, CdpStatus::kProtocolError);
  EXPECT_EQ(unknown.value.value("code", 0), -32601) << Describe(unknown);

  Result(cdp, "Page.enable", nlohmann::json::object(), session);
  const nlohmann::json navigated =
      Result(cdp, "Page.navigate", {{"url", "data:text/html,<p>page</p><script>document.title='ready-'+6*7</script>"}},
             session);
  EXPECT_FALSE(navigated.contains("errorText")) << navigated.dump();
  ASSERT_TRUE(PumpUntil(cdp, SeenAfterDataPage(events, session, "Page.loadEventFired"), milliseconds(10000)));
  EXPECT_GT(wakeUps.load(), 0);
  const nlohmann::json title =
      Result(cdp, "Runtime.evaluate", {{"expression", "document.title"}, {"returnByValue", true}}, session);
  EXPECT_EQ(At(title, "/result/value"), "ready-42");

  // The first screencast frame is a PNG, and its acknowledgement is answered.
  Result(cdp, "Page.startScreencast", {{"format", "png"}, {"everyNthFrame", 1}}, session);
  ASSERT_TRUE(PumpUntil(cdp, SeenAfterDataPage(events, session, "Page.screencastFrame"), milliseconds(10000)));
  const auto frame = std::ranges::find(events, std::string("Page.screencastFrame"), &CdpEvent::method);
  ASSERT_NE(frame, events.end());
  const std::vector<std::uint8_t> image = Base64Decode(frame->params.value("data", ""));
  const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_GE(image.size(), png.size());
  EXPECT_TRUE(std::equal(png.begin(), png.end(), image.begin())) << "not a PNG";
  Result(cdp, "Page.screencastFrameAck", {{"sessionId", At(frame->params, "/sessionId")}}, session);

  // A command the browser never answers ends at its deadline, in Pump.
  std::optional<CdpReply> never;
  cdp.SendAsync("Runtime.evaluate", {{"expression", "new Promise(() => {})"}, {"awaitPromise", true}}, session,
                milliseconds(300), [&](const CdpReply& reply) { never = reply; });
  ASSERT_TRUE(PumpUntil(
      cdp, [&] { return never.has_value(); }, milliseconds(5000)));
  EXPECT_EQ(never->status, CdpStatus::kTimedOut);

  const Clock::time_point closing = Clock::now();
  EXPECT_EQ(browser.Close(), ChromiumBrowser::Ending::kClosed);
  std::printf("[ figures  ] Close until the whole group was gone: %lld ms\n", MillisecondsSince(closing));
  EXPECT_FALSE(chromium_runtime::IsRunning(browser.process()));
  EXPECT_EQ(chromium_runtime::RunningInGroup(browser.process()), 0);
  EXPECT_EQ(cdp.Send("Browser.getVersion").status, CdpStatus::kDisconnected);
}

TEST(ChromiumBrowserTest, EndsByItselfWhenTheHostHangsUp) {
  // As when the host is killed: the channel closes with no Browser.close.
  TempProfile profile(L"hang-up");
  ChromiumBrowser browser(profile.options);
  ASSERT_TRUE(chromium_runtime::IsRunning(browser.process()));
  const Clock::time_point hungUp = Clock::now();
  browser.cdp().Disconnect();
  EXPECT_TRUE(chromium_runtime::WaitUntilGroupGone(browser.process(), milliseconds(5000)));
  std::printf("[ figures  ] hang-up until the whole group was gone: %lld ms\n", MillisecondsSince(hungUp));
}

}  // namespace
