// The player's navigation rules over the cases a lesson meets.
#include <gtest/gtest.h>

#include <string>

#include "common/Config.h"
#include "common/Text.h"
#include "player/NavigationPolicy.h"
#include "player/RequestFilter.h"

namespace {

// The host the browser goes to, and the one the request filter runs the pin
// check for (on the address lower-cased, as the filter has it); a user name
// or password is neither.
TEST(Hosts, OnlyWebPagesAndTheirBlobsHaveAHostAndOnlyHttpsIsPinChecked) {
  const struct {
    const wchar_t* url;
    const wchar_t* host;
    const wchar_t* pinChecked;
  } cases[] = {
      {L"https://CDN.Example.com:8443/a/b?x=1", L"cdn.example.com", L"cdn.example.com"},
      {L"https://host", L"host", L"host"},
      {L"https://user:pw@cdn.example.com:443/", L"cdn.example.com", L"cdn.example.com"},
      // An "@" after the authority is not user info.
      {L"https://evil.example?next=@youtube.com", L"evil.example", L"evil.example"},
      {L"https://evil.example#@youtube.com", L"evil.example", L"evil.example"},
      // "host." is host (a port may follow the dot): its rules and pins must not be skipped for the dot.
      {L"https://desktop.miravell.localhost.:443/x", L"desktop.miravell.localhost", L"desktop.miravell.localhost"},
      {L"http://cdn.example.com/", L"cdn.example.com", L""},
      {L"blob:https://media.example.com/1234-uuid", L"media.example.com", L""},
      {L"Blob:HTTP://Media.Example.com/1234", L"media.example.com", L""},
      {L"https://[2001:DB8::1]:8443/x", L"[2001:db8::1]", L"[2001:db8::1]"},
      {L"https://[2001:db8::1/x", L"", L""},
      {L"https:/", L"", L""},
      {L"data:text/html,https://www.google.com/<script>alert(1)</script>", L"", L""},
      {L"ftp://www.google.com/", L"", L""},
      {L"blob:file:///C:/x", L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExtractHost(c.url), c.host) << c.url;
    EXPECT_EQ(PinCheckServerName(ToLowerWide(c.url)), c.pinChecked) << c.url;
  }
}

TEST(Hosts, BaseDomainIsTheRegistrableDomain) {
  const struct {
    const wchar_t* host;
    const wchar_t* base;
  } cases[] = {
      {L"portal.school.com.sa", L"school.com.sa"},
      {L"a.b.example.co.uk", L"example.co.uk"},
      {L"com.sa", L"com.sa"},  // a public suffix stands for itself
      {L"localhost", L"localhost"},
      {L"desktop.miravell.localhost", L"miravell.localhost"},  // unknown to the list: last two labels
      {L"a.b.shop.example.ck", L"shop.example.ck"},            // "*.ck": every name under ck is a suffix
      {L"a.www.ck", L"www.ck"},                                // "!www.ck": but www.ck is not
      {L"school.github.io", L"school.github.io"},              // the hosting providers' section counts too
      {L"a.shop.xn--55qx5d.cn", L"shop.xn--55qx5d.cn"},
      {L"a.shop.\u516c\u53f8.cn", L"shop.\u516c\u53f8.cn"},
      {L"192.168.1.10", L"192.168.1.10"},
      {L"[2001:db8::1]", L"[2001:db8::1]"},
  };
  for (const auto& c : cases) EXPECT_EQ(BaseDomain(c.host), c.base) << c.host;
}

// Two registrants under one public suffix, or two addresses, are two sites.
TEST(Hosts, SameSiteByEqualityOrRegistrableDomain) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    bool same;
  } cases[] = {
      {L"www.school.com.sa", L"portal.school.com.sa", true},
      {L"example.com", L"a.example.com", true},
      {L"example.com", L"notexample.com", false},
      {L"", L"", false},
      {L"portal.school.com.sa", L"evil.com.sa", false},
      {L"com.sa", L"portal.school.com.sa", false},
      {L"school.github.io", L"evil.github.io", false},
      {L"10.0.0.1", L"192.168.0.1", false},
      {L"[2001:db8::1]", L"[2001:db8::2]", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsSameSite(c.a, c.b), c.same) << c.a << L" " << c.b;
}

const PlayerContent kDirect{L"https://lessons.school.example/course/7?t=1", L"https://miravell.localhost/",
                            L"url_direct"};
const PlayerContent kVideo{L"https://www.youtube.com/embed/abc?origin=x", L"https://miravell.localhost", L"url_direct"};
const PlayerContent kMeeting{L"https://us02web.zoom.us/j/123", L"", L"url_direct"};
const PlayerContent kBunny{L"https://vz-1.b-cdn.net/video.m3u8", L"", L"url_direct"};
const PlayerContent kPortal{L"https://portal.school.com.sa/lesson/1", L"https://miravell.localhost/", L"pdf"};
const PlayerContent kIpv6{L"https://[2001:db8::1]/lesson", L"", L"url_direct"};

// The content, its site, the service's site, the listed hosts and a video or
// meeting platform's own pages pass; an address that only mentions one of
// them in its text is cancelled.
TEST(PlayerPolicy, OnlyTheHostDecides) {
  const struct {
    const wchar_t* uri;
    const PlayerContent* content;
    bool allowed;
  } cases[] = {
      {L"about:blank", &kDirect, true},
      {L"https://lessons.school.example/course/7#part2", &kDirect, true},
      {L"https://www.school.example/other", &kDirect, true},      // same base domain
      {L"https://desktop.miravell.localhost/x", &kDirect, true},  // the service's site
      {L"https://vimeo.com/123", &kDirect, true},
      {L"https://player.vimeo.com:443/video/1", &kDirect, true},
      {L"https://notvimeo.com/", &kDirect, false},  // a mere suffix
      {L"https://vimeo.com@evil.example/", &kDirect, false},
      {L"data:text/html,https://www.google.com/<script>alert(1)</script>", &kDirect, false},
      {L"HTTPS://M.YOUTUBE.COM/watch?v=other", &kVideo, true},
      {L"https://youtu.be/abc", &kVideo, true},
      {L"https://evil.example/youtube.com/watch?v=1", &kVideo, false},
      {L"https://zoom.us/wc/join/123", &kMeeting, true},
      {L"https://evil.example/.zoom.us/j/1", &kMeeting, false},
      {L"blob:https://vz-1.b-cdn.net/1234-uuid", &kBunny, true},
      {L"https://mediadelivery.net.evil.example/", &kBunny, false},
      {L"https://iframe.mediadelivery.net/embed/1", &kPortal, true},  // listed, whatever the content's type
      {L"https://www.school.com.sa/other", &kPortal, true},
      {L"https://evil.com.sa/", &kPortal, false},
      {L"https://com.sa/", &kPortal, false},
      {L"https://[2001:db8::1]:8443/other", &kIpv6, true},
      {L"https://[2001:db8::2]/", &kIpv6, false},
  };
  for (const auto& c : cases) EXPECT_EQ(PlayerMayNavigate(c.uri, *c.content), c.allowed) << c.uri;
}

TEST(Devices, OnlyTheServiceTheMeetingPlatformAndAVouchedLessonGetThemUnasked) {
  // "{d}" is a service domain of the build; columns: the player with a
  // lesson the service named, the player with a direct address (no content
  // site), the start screen.
  struct Case {
    const wchar_t* uri;
    bool namedLesson;
    bool directLesson;
    bool initScreen;
  };
  const Case cases[] = {
      {L"https://{d}/app", true, true, true},
      {L"http://{d}/app", false, false, false},  // never in the clear
      {L"https://us02web.zoom.us/j/1", true, true, false},
      {L"https://cdn.school.example.com/x", true, false, false},  // the lesson's own site
      {L"https://ads.example/frame", false, false, false},
      {L"https://{d}@evil.example/", false, false, false},
      {L"blob:https://{d}/1", false, false, false},
  };
  const std::wstring domain = config::Wide(config::Id::ServiceDomain2);
  const std::wstring lesson = L"https://school.example.com/room/7?t=1";
  for (const Case& c : cases) {
    std::wstring uri = c.uri;
    for (std::size_t at; (at = uri.find(L"{d}")) != std::wstring::npos;) uri.replace(at, 3, domain);
    EXPECT_EQ(PlayerMayUseDevices(uri, lesson), c.namedLesson) << WideToUtf8(uri);
    EXPECT_EQ(PlayerMayUseDevices(uri, L""), c.directLesson) << WideToUtf8(uri);
    EXPECT_EQ(InitScreenMayUseDevices(uri), c.initScreen) << WideToUtf8(uri);
  }
}

}  // namespace
