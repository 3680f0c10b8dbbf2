// The player's navigation rules over the cases a lesson meets.
#include <gtest/gtest.h>

#include <string>

#include "common/Config.h"
#include "common/Text.h"
#include "player/NavigationPolicy.h"

namespace {

TEST(Hosts, ExtractHostTakesTheLowerCaseHostWithoutPortOrUserInfo) {
  EXPECT_EQ(ExtractHost(L"https://CDN.Example.com:8443/a/b?x=1"), L"cdn.example.com");
  EXPECT_EQ(ExtractHost(L"blob:https://media.example.com/1234-uuid"), L"media.example.com");
  EXPECT_EQ(ExtractHost(L"about:blank"), L"");
  EXPECT_EQ(ExtractHost(L"https://host"), L"host");
  // A user name or password is not the host the browser goes to.
  EXPECT_EQ(ExtractHost(L"https://youtube.com@evil.example/watch"), L"evil.example");
  EXPECT_EQ(ExtractHost(L"https://user:pw@cdn.example.com:443/"), L"cdn.example.com");
  // An "@" after the authority is not user info.
  EXPECT_EQ(ExtractHost(L"https://evil.example?next=@youtube.com"), L"evil.example");
  EXPECT_EQ(ExtractHost(L"https://evil.example#@youtube.com"), L"evil.example");
}

TEST(Hosts, SameSiteByEqualitySubdomainOrBaseDomain) {
  EXPECT_EQ(BaseDomain(L"a.b.example.com"), L"example.com");
  EXPECT_EQ(BaseDomain(L"localhost"), L"localhost");
  EXPECT_TRUE(IsSameSite(L"www.example.com", L"cdn.example.com"));
  EXPECT_TRUE(IsSameSite(L"example.com", L"a.example.com"));
  EXPECT_FALSE(IsSameSite(L"example.com", L"notexample.com"));
  EXPECT_FALSE(IsSameSite(L"", L""));
  // Two registrants under one public suffix are two sites.
  EXPECT_FALSE(IsSameSite(L"a.co.uk", L"b.co.uk"));
}

TEST(Hosts, OnlyWebPagesAndTheirBlobsHaveAHost) {
  const struct {
    const wchar_t* url;
    const wchar_t* host;
  } cases[] = {
      {L"data:text/html,https://www.google.com/<script>alert(1)</script>", L""},
      {L"file://evil.example/youtube.com/x", L""},
      {L"javascript:location='https://www.google.com/'", L""},
      {L"about:blank", L""},
      {L"ftp://www.google.com/", L""},
      {L"blob:null/1234-uuid", L""},
      {L"blob:file:///C:/x", L""},
      {L"HTTPS://WWW.YouTube.COM/watch", L"www.youtube.com"},
      {L"Blob:HTTP://Media.Example.com/1234", L"media.example.com"},
      {L"https://lessons.school.example./x", L"lessons.school.example"},
      {L"https://[2001:DB8::1]:8443/x", L"[2001:db8::1]"},
      {L"https://[2001:db8::1/x", L""},
  };
  for (const auto& c : cases) EXPECT_EQ(ExtractHost(c.url), c.host) << c.url;
}

TEST(Hosts, BaseDomainIsTheRegistrableDomain) {
  const struct {
    const wchar_t* host;
    const wchar_t* base;
  } cases[] = {
      {L"portal.school.com.sa", L"school.com.sa"},
      {L"a.b.example.co.uk", L"example.co.uk"},
      {L"com.sa", L"com.sa"},                                  // a public suffix stands for itself
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

TEST(Hosts, HostsUnderOnePublicSuffixOrAddressesAreNotOneSite) {
  EXPECT_TRUE(IsSameSite(L"www.school.com.sa", L"portal.school.com.sa"));
  EXPECT_FALSE(IsSameSite(L"portal.school.com.sa", L"evil.com.sa"));
  EXPECT_FALSE(IsSameSite(L"com.sa", L"portal.school.com.sa"));
  EXPECT_FALSE(IsSameSite(L"school.github.io", L"evil.github.io"));
  EXPECT_FALSE(IsSameSite(L"10.0.0.1", L"192.168.0.1"));
  EXPECT_FALSE(IsSameSite(L"[2001:db8::1]", L"[2001:db8::2]"));
}

TEST(Hosts, AllowedHostsAreTheBuiltInList) {
  const auto& hosts = AllowedHosts();
  ASSERT_EQ(hosts.size(), 39u);
  EXPECT_EQ(&hosts, &AllowedHosts()) << "built once";
}

const PlayerContent kDirect{L"https://lessons.school.example/course/7?t=1", L"https://miravell.localhost/",
                            L"url_direct"};

TEST(PlayerPolicy, ContentItsSiteAndTheServiceAreAllowed) {
  EXPECT_TRUE(PlayerMayNavigate(L"about:blank", kDirect));
  EXPECT_TRUE(PlayerMayNavigate(L"https://lessons.school.example/course/7#part2", kDirect));
  EXPECT_TRUE(PlayerMayNavigate(L"https://lessons.school.example/course/7/page/2", kDirect));
  EXPECT_TRUE(PlayerMayNavigate(L"https://www.school.example/other", kDirect));      // same base domain
  EXPECT_TRUE(PlayerMayNavigate(L"https://desktop.miravell.localhost/x", kDirect));  // the service's site
}

TEST(PlayerPolicy, ListedHostsAndTheirSubdomainsOnlyWithAPort) {
  EXPECT_TRUE(PlayerMayNavigate(L"https://vimeo.com/123", kDirect));
  EXPECT_TRUE(PlayerMayNavigate(L"https://player.vimeo.com:443/video/1", kDirect));
  EXPECT_FALSE(PlayerMayNavigate(L"https://notvimeo.com/", kDirect));  // a mere suffix
  EXPECT_TRUE(PlayerMayNavigate(L"blob:https://player.vimeo.com/abc", kDirect));
}

TEST(PlayerPolicy, EverythingElseIsCancelled) {
  EXPECT_FALSE(PlayerMayNavigate(L"https://www.bing.com/search?q=answers", kDirect));
  EXPECT_FALSE(PlayerMayNavigate(L"https://vimeo.com@evil.example/", kDirect));
  EXPECT_FALSE(PlayerMayNavigate(L"https://evil.example/?@vimeo.com", kDirect));
  EXPECT_FALSE(PlayerMayNavigate(L"file:///C:/Windows/win.ini", kDirect));
}

TEST(PlayerPolicy, VideoAndMeetingPagesStayWithTheirPlatform) {
  const PlayerContent video{L"https://www.youtube.com/embed/abc?origin=x", L"https://miravell.localhost",
                            L"url_direct"};
  EXPECT_TRUE(PlayerMayNavigate(L"https://m.youtube.com/watch?v=other", video));
  const PlayerContent meeting{L"https://us02web.zoom.us/j/123", L"", L"url_direct"};
  EXPECT_TRUE(PlayerMayNavigate(L"https://zoom.us/wc/join/123", meeting));
}

TEST(PlayerPolicy, MediaPairsOnlyForDirectContent) {
  const PlayerContent bunny{L"https://vz-1.b-cdn.net/video.m3u8", L"", L"url_direct"};
  EXPECT_TRUE(PlayerMayNavigate(L"https://iframe.mediadelivery.net/embed/1", bunny));
  PlayerContent notDirect = bunny;
  notDirect.contentType = L"pdf";
  // Still allowed through the list itself: both are listed hosts.
  EXPECT_TRUE(PlayerMayNavigate(L"https://iframe.mediadelivery.net/embed/1", notDirect));
}

struct NavigationCase {
  const wchar_t* uri;
  const PlayerContent* content;
};

const PlayerContent kVideo{L"https://www.youtube.com/embed/abc?origin=x", L"https://miravell.localhost", L"url_direct"};
const PlayerContent kMeeting{L"https://us02web.zoom.us/j/123", L"", L"url_direct"};
const PlayerContent kBunny{L"https://vz-1.b-cdn.net/video.m3u8", L"", L"url_direct"};
const PlayerContent kPortal{L"https://portal.school.com.sa/lesson/1", L"https://miravell.localhost/", L"pdf"};
const PlayerContent kIpv6{L"https://[2001:db8::1]/lesson", L"", L"url_direct"};

TEST(PlayerPolicy, AddressesThatOnlyMentionAnAllowedHostAreCancelled) {
  const NavigationCase cases[] = {
      {L"data:text/html,https://www.google.com/<script>alert(1)</script>", &kDirect},
      {L"file://evil.example/youtube.com/x", &kVideo},
      {L"https://evil.example/youtube.com/watch?v=1", &kVideo},
      {L"https://evil.example/.zoom.us/j/1", &kMeeting},
      {L"https://mediadelivery.net.evil.example/", &kBunny},
      {L"https://evil.com.sa/", &kPortal},
      {L"https://com.sa/", &kPortal},
      {L"https://[2001:db8::2]/", &kIpv6},
      {L"javascript:alert(1)//https://www.google.com/", &kDirect},
  };
  for (const auto& c : cases) EXPECT_FALSE(PlayerMayNavigate(c.uri, *c.content)) << c.uri;
}

TEST(PlayerPolicy, PlatformMeetingMediaAndOwnPagesStillPass) {
  const NavigationCase cases[] = {
      {L"HTTPS://M.YOUTUBE.COM/watch?v=other", &kVideo},   {L"https://youtu.be/abc", &kVideo},
      {L"https://us05web.zoom.us/j/9", &kMeeting},         {L"https://iframe.mediadelivery.net/embed/1", &kBunny},
      {L"blob:https://vz-1.b-cdn.net/1234-uuid", &kBunny}, {L"about:blank", &kPortal},
      {L"https://www.school.com.sa/other", &kPortal},      {L"https://portal.school.com.sa./lesson/2", &kPortal},
      {L"https://[2001:db8::1]:8443/other", &kIpv6},
  };
  for (const auto& c : cases) EXPECT_TRUE(PlayerMayNavigate(c.uri, *c.content)) << c.uri;
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
      {L"https://live.{d}:443/room", true, true, true},
      {L"http://{d}/app", false, false, false},  // never in the clear
      {L"https://us02web.zoom.us/j/1", true, true, false},
      {L"https://school.example.com/room/7", true, false, false},  // the lesson's own site
      {L"https://cdn.school.example.com/x", true, false, false},
      {L"http://school.example.com/room/7", false, false, false},
      {L"https://ads.example/frame", false, false, false},
      {L"https://{d}.evil.example/", false, false, false},
      {L"https://{d}@evil.example/", false, false, false},
      {L"blob:https://{d}/1", false, false, false},
      {L"data:text/html,https://{d}/", false, false, false},
      {L"", false, false, false},
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
