// Who gets the device identity (the host the pin check runs for is with the
// other host rules, in NavigationPolicyTest.cpp).
#include <gtest/gtest.h>

#include <string>

#include "common/Config.h"
#include "common/Text.h"
#include "player/RequestFilter.h"

namespace {

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
