// The player's navigation rules over the cases a lesson meets.
#include <gtest/gtest.h>

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
  EXPECT_TRUE(IsSameSite(L"a.co.uk", L"b.co.uk"));  // no public-suffix knowledge, as designed
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
  const PlayerContent video{L"https://www.youtube.com/embed/abc?origin=x", L"https://miravell.localhost", L"url_direct"};
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

}  // namespace
