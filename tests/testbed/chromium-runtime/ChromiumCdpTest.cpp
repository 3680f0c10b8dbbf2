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

// A fresh profile folder in the temporary folder, removed afterwards.
class TempProfile {
 public:
  explicit TempProfile(const std::wstring& name) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, temp);
    path_ = std::filesystem::path(temp) / (L"miravell-cdp-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + name);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    std::filesystem::create_directories(path_, ignored);
  }
  ~TempProfile() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempProfile(const TempProfile&) = delete;
  TempProfile& operator=(const TempProfile&) = delete;
  [[nodiscard]] std::wstring Folder() const { return (path_ / L"profile").wstring(); }
  [[nodiscard]] std::wstring Log() const { return (path_ / L"chromium.log").wstring(); }

 private:
  std::filesystem::path path_;
};

ChromiumOptions OptionsFor(const TempProfile& profile) {
  ChromiumOptions options;
  options.profileFolder = profile.Folder();
  options.logFile = profile.Log();
  // The same override the page-script browser tests honour.
  wchar_t chromium[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"MIRAVELL_CHROMIUM", chromium, MAX_PATH);
  if (length > 0 && length < MAX_PATH) options.executable = WideToUtf8(chromium);
  return options;
}

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

TEST(UnixChildTest, ArgumentsReachTheUnixSideIntact) {
  // Caller-given text crosses Windows' command-line rules (Wine's Unix
  // launcher) and then sh; none of it may be split, joined or run.
  const std::vector<std::string> hostile = {
      "plain",
      "",
      "two words",
      "it's",
      "say \"hi\"",
      "trailing\\",
      "\\\"",
      "C:\\Program Files\\x\\\\",
      "$(touch /tmp/miravell-injected) `id` $HOME ; exit 7 & | > * ~",
      "line\nbreak\ttab",
      "\xC3\xBC\xC3\xB1\xC3\xAF \xE2\x98\x83",
      "--host-resolver-rules=MAP * 127.0.0.1, EXCLUDE localhost",
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

// Opens about:blank in a target of its own and attaches to it.
void AttachToBlankPage(CdpClient& cdp, std::string& session) {
  const CdpReply target = cdp.Send("Target.createTarget", {{"url", "about:blank"}});
  ASSERT_TRUE(target.ok()) << Describe(target);
  const CdpReply attached =
      cdp.Send("Target.attachToTarget", {{"targetId", At(target.value, "/targetId")}, {"flatten", true}});
  ASSERT_TRUE(attached.ok()) << Describe(attached);
  session = attached.value.value("sessionId", std::string());
  ASSERT_FALSE(session.empty());
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

// The first screencast frame is a PNG, and its acknowledgement is answered.
void ExpectAPngFrame(CdpClient& cdp, const std::vector<CdpEvent>& events, const std::string& session) {
  ASSERT_TRUE(cdp.Send("Page.startScreencast", {{"format", "png"}, {"everyNthFrame", 1}}, session).ok());
  ASSERT_TRUE(PumpUntil(cdp, SeenAfterDataPage(events, session, "Page.screencastFrame"), milliseconds(10000)));
  const auto frame = std::ranges::find(events, std::string("Page.screencastFrame"), &CdpEvent::method);
  ASSERT_NE(frame, events.end());
  const std::vector<std::uint8_t> image = Base64Decode(frame->params.value("data", ""));
  const std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  ASSERT_GE(image.size(), png.size());
  EXPECT_TRUE(std::equal(png.begin(), png.end(), image.begin())) << "not a PNG";
  const CdpReply ack = cdp.Send("Page.screencastFrameAck", {{"sessionId", At(frame->params, "/sessionId")}}, session);
  EXPECT_TRUE(ack.ok()) << Describe(ack);
}

TEST(ChromiumBrowserTest, DrivesAPageThroughTheDevToolsPipe) {
  TempProfile profile(L"page");
  const Clock::time_point started = Clock::now();
  ChromiumBrowser browser(OptionsFor(profile));
  std::printf("[ figures  ] start to first answer: %lld ms (%s)\n", MillisecondsSince(started),
              browser.version().value("product", "?").c_str());
  CdpClient& cdp = browser.cdp();
  std::vector<CdpEvent> events;
  cdp.SetEventHandler([&](const CdpEvent& event) { events.push_back(event); });
  std::atomic<int> wakeUps = 0;
  cdp.SetWakeUp([&] { ++wakeUps; });
  std::string session;
  ASSERT_NO_FATAL_FAILURE(AttachToBlankPage(cdp, session));

  const CdpReply sum = cdp.Send("Runtime.evaluate", {{"expression", "1+1"}}, session);
  ASSERT_TRUE(sum.ok()) << Describe(sum);
  EXPECT_EQ(At(sum.value, "/result/value"), 2) << Describe(sum);
  const CdpReply unknown = cdp.Send("Page.noSuchCommand", nlohmann::json::object(), session);
  EXPECT_EQ(unknown.status, CdpStatus::kProtocolError);
  EXPECT_EQ(unknown.value.value("code", 0), -32601) << Describe(unknown);

  ASSERT_TRUE(cdp.Send("Page.enable", nlohmann::json::object(), session).ok());
  const CdpReply navigated = cdp.Send(
      "Page.navigate", {{"url", "data:text/html,<p>page</p><script>document.title='ready-'+6*7</script>"}}, session);
  ASSERT_TRUE(navigated.ok()) << Describe(navigated);
  EXPECT_FALSE(navigated.value.contains("errorText")) << Describe(navigated);
  ASSERT_TRUE(PumpUntil(cdp, SeenAfterDataPage(events, session, "Page.loadEventFired"), milliseconds(10000)));
  EXPECT_GT(wakeUps.load(), 0);
  const CdpReply title =
      cdp.Send("Runtime.evaluate", {{"expression", "document.title"}, {"returnByValue", true}}, session);
  ASSERT_TRUE(title.ok()) << Describe(title);
  EXPECT_EQ(At(title.value, "/result/value"), "ready-42") << Describe(title);
  ASSERT_NO_FATAL_FAILURE(ExpectAPngFrame(cdp, events, session));

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
  ChromiumBrowser browser(OptionsFor(profile));
  ASSERT_TRUE(chromium_runtime::IsRunning(browser.process()));
  const Clock::time_point hungUp = Clock::now();
  browser.cdp().Disconnect();
  EXPECT_TRUE(chromium_runtime::WaitUntilGroupGone(browser.process(), milliseconds(5000)));
  std::printf("[ figures  ] hang-up until the whole group was gone: %lld ms\n", MillisecondsSince(hungUp));
}

}  // namespace
