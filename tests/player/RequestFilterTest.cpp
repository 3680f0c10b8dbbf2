// The host name the browser's pin check runs for, and who gets the device
// identity.
#include <gtest/gtest.h>

#include <string>

#include "common/Config.h"
#include "common/Text.h"
#include "player/RequestFilter.h"

namespace {

TEST(RequestFilter, PinCheckRunsForTheHostActuallyContacted) {
  EXPECT_EQ(PinCheckServerName(L"https://cdn.example.com/a.mp4"), L"cdn.example.com");
  EXPECT_EQ(PinCheckServerName(L"https://cdn.example.com:8443/a"), L"cdn.example.com");
  EXPECT_EQ(PinCheckServerName(L"https://cdn.example.com"), L"cdn.example.com");
  // User info is not the host: the pins of the real host are checked.
  EXPECT_EQ(PinCheckServerName(L"https://desktop.miravell.localhost@evil.example/x"), L"evil.example");
  EXPECT_EQ(PinCheckServerName(L"https://u:p@desktop.miravell.localhost:443/"), L"desktop.miravell.localhost");
  EXPECT_EQ(PinCheckServerName(L"https://evil.example?@desktop.miravell.localhost"), L"evil.example");
  // "host." is host: its pins must not be skipped for the dot.
  EXPECT_EQ(PinCheckServerName(L"https://desktop.miravell.localhost.:443/x"), L"desktop.miravell.localhost");
  // Only HTTPS is checked (the caller lower-cases the address first).
  EXPECT_EQ(PinCheckServerName(L"http://cdn.example.com/"), L"");
  EXPECT_EQ(PinCheckServerName(L"https:/"), L"");
  EXPECT_EQ(PinCheckServerName(L"data:text/html,x"), L"");
}

TEST(RequestFilter, TheIdentityGoesByHostOverHttpsOnly) {
  // "{d}" is the first of the build's service domains; the media host is on
  // the allow-list of both profiles.
  struct Case {
    const wchar_t* uri;
    bool serviceSite;
    bool media;
  };
  const Case cases[] = {
      {L"https://{d}/api/x", true, false},
      {L"https://app.{d}:443/hls/a.ts", true, true},
      {L"https://{d}./lesson/video", true, true},
      {L"http://{d}/api/x", false, false},  // readable by anyone on the path
      {L"http://stream.b-cdn.net/hls/a.ts", false, false},
      {L"https://evil.example/hls/?{d}", false, false},
      {L"https://evil.example/{d}/video", false, false},
      {L"https://{d}.evil.example/hls/x", false, false},
      {L"https://x{d}/", false, false},
      {L"https://{d}@evil.example/hls/x", false, false},
      {L"https://cdn.example/lesson/hls/x.ts", false, false},  // a CDN not on the allow-list
      {L"https://stream.b-cdn.net/lesson/hls/x.ts", false, true},
      {L"https://stream.b-cdn.net/a/playlist/master.mpd", false, true},
      {L"https://stream.b-cdn.net/a/poster.jpg", false, false},
      {L"blob:https://{d}/1234", false, false},
  };
  const std::wstring domain = config::WideList(config::Id::IdentityRuleHosts).front();
  for (const Case& c : cases) {
    std::wstring uri = c.uri;
    for (std::size_t at; (at = uri.find(L"{d}")) != std::wstring::npos;) uri.replace(at, 3, domain);
    const IdentityRules rules = IdentityRulesFor(uri);
    EXPECT_EQ(rules.serviceSite, c.serviceSite) << WideToUtf8(uri);
    EXPECT_EQ(rules.media, c.media) << WideToUtf8(uri);
  }
}

}  // namespace
