#include <gtest/gtest.h>

#include "common/AppState.h"
#include "links/ContentUrl.h"

namespace {

// Sets the service domain the embed rewrites use, and puts it back.
class WithDomain {
 public:
  explicit WithDomain(std::wstring domain) : saved_(GetAppState().domain) { GetAppState().domain = std::move(domain); }
  ~WithDomain() { GetAppState().domain = saved_; }
  WithDomain(const WithDomain&) = delete;
  WithDomain& operator=(const WithDomain&) = delete;

 private:
  std::wstring saved_;
};

constexpr wchar_t kEmbed[] = L"https://www.youtube.com/embed/";
constexpr wchar_t kOrigin[] = L"?origin=https%3a%2f%2fmiravell.com";

struct Rewrite {
  const wchar_t* url;
  std::wstring expected;
};

TEST(ContentUrl, RecognisesThePlatformsAnywhereInTheTextWhateverTheCase) {
  for (const wchar_t* url : {L"https://www.youtube.com/watch?v=x", L"https://YOUTU.BE/AbC", L"youtube.com",
                             L"https://m.YouTube.com/shorts/x", L"https://example.com/?next=youtu.be/x"}) {
    EXPECT_TRUE(IsVideoPlatformUrl(url)) << url;
  }
  for (const wchar_t* url : {L"", L"https://vimeo.com/1", L"https://youtube.co/x", L"https://youtu.b/x"}) {
    EXPECT_FALSE(IsVideoPlatformUrl(url)) << url;
  }
  for (const wchar_t* url : {L"https://us02web.zoom.us/j/123", L"https://zoom.us/j/1", L"HTTPS://ZOOM.US/j/1",
                             L"https://example.com/?back=https://zoom.us"}) {
    EXPECT_TRUE(IsMeetingUrl(url)) << url;
  }
  for (const wchar_t* url : {L"", L"zoom.us/j/1", L"https://notzoom.us/", L"https://zoom.com/j/1"}) {
    EXPECT_FALSE(IsMeetingUrl(url)) << url;
  }
}

TEST(MakeVideoEmbedUrl, RewritesEveryKnownFormKeepingTheIdAsWritten) {
  const WithDomain domain(L"https://miravell.com");
  const std::wstring e = kEmbed;
  const std::wstring o = kOrigin;
  const Rewrite cases[] = {
      // Short links: the id runs to the query; trailing slashes go.
      {L"https://youtu.be/AbC_12-x?t=5", e + L"AbC_12-x" + o},
      {L"https://YOUTU.BE/AbC/?t=1", e + L"AbC" + o},
      {L"https://youtu.be/AbC?v=zzz", e + L"AbC" + o},
      {L"https://youtu.be/", L"https://youtu.be/"},
      // Shorts and live: only the segment right after the marker.
      {L"https://www.youtube.com/shorts/ShO1/more?x=1", e + L"ShO1" + o},
      {L"https://youtube.com/shorts/ShO1?feature=share", e + L"ShO1" + o},
      {L"https://youtube.com/SHORTS/ShO1", e + L"ShO1" + o},
      {L"https://www.youtube.com/live/LiVe9?si=2", e + L"LiVe9" + o},
      {L"https://www.youtube.com/live/LiVe9/x", e + L"LiVe9" + o},
      {L"https://www.youtube.com/shorts/", L"https://www.youtube.com/shorts/"},
      // Watch addresses: up to the first "&"; the first "v=" anywhere wins.
      {L"https://www.youtube.com/watch?v=WaTcH&list=9&t=3", e + L"WaTcH" + o},
      {L"https://www.youtube.com/watch?v=WaTcH/", e + L"WaTcH" + o},
      {L"https://www.youtube.com/watch?dev=1&v=WaTcH", e + L"1" + o},
      {L"https://www.youtube.com/watch?V=WaTcH", e + L"WaTcH" + o},
      {L"https://www.youtube.com/watch?v=", L"https://www.youtube.com/watch?v="},
      // Embed addresses only gain an origin, and only a lower-case one counts.
      {L"https://www.youtube.com/embed/EmB", L"https://www.youtube.com/embed/EmB" + o},
      {L"https://www.youtube.com/embed/EmB?rel=0",
       L"https://www.youtube.com/embed/EmB?rel=0&origin=https%3a%2f%2fmiravell.com"},
      {L"https://www.youtube.com/EMBED/EmB?v=1",
       L"https://www.youtube.com/EMBED/EmB?v=1&origin=https%3a%2f%2fmiravell.com"},
      {L"https://www.youtube.com/embed/EmB?origin=https://x.example",
       L"https://www.youtube.com/embed/EmB?origin=https://x.example"},
      {L"https://www.youtube.com/embed/EmB?ORIGIN=x",
       L"https://www.youtube.com/embed/EmB?ORIGIN=x&origin=https%3a%2f%2fmiravell.com"},
      // Anything else is shown as it is.
      {L"https://www.youtube.com/@channel", L"https://www.youtube.com/@channel"},
      {L"", L""},
  };
  for (const auto& rewrite : cases) EXPECT_EQ(MakeVideoEmbedUrl(rewrite.url), rewrite.expected) << rewrite.url;
}

TEST(MakeVideoEmbedUrl, AnEmptyDomainLeavesAnEmptyOrigin) {
  const WithDomain domain(L"");
  EXPECT_EQ(MakeVideoEmbedUrl(L"https://youtu.be/AbC"), std::wstring(kEmbed) + L"AbC?origin=");
  EXPECT_EQ(MakeVideoEmbedUrl(L"https://www.youtube.com/embed/AbC"), L"https://www.youtube.com/embed/AbC?origin=");
}

TEST(PercentEncode, KeepsOnlyUnreservedAsciiAndWritesLowerCaseHexOfUtf8) {
  EXPECT_EQ(PercentEncode(L"https://miravell.com:8443/a b"), L"https%3a%2f%2fmiravell.com%3a8443%2fa%20b");
  EXPECT_EQ(PercentEncode(L"AZaz09-._~"), L"AZaz09-._~");
  EXPECT_EQ(PercentEncode(L"+/=?&%"), L"%2b%2f%3d%3f%26%25");
  EXPECT_EQ(PercentEncode(L"\u062F\u20AC"), L"%d8%af%e2%82%ac");
  EXPECT_EQ(PercentEncode(L""), L"");
}

}  // namespace
