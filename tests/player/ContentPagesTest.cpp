// The pages and scripts, to the character where the host relies on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "player/ContentPages.h"

namespace {

TEST(ContentPages, FixedTextsHaveTheirLengths) {
  EXPECT_EQ(LoaderScript().size(), 1539u);
  EXPECT_EQ(std::count(LoaderScript().begin(), LoaderScript().end(), L'\n'), 18);
  const std::wstring watermark = WatermarkScript(L"");
  // The tail observes the document itself: the script runs before the
  // document has a root element to observe.
  EXPECT_EQ(watermark.size(), 301u + 800u);
  // The text goes right at the end of the 301-unit head.
  EXPECT_EQ(watermark.find(L"        wm.textContent = '';") + std::wstring(L"        wm.textContent = '").size(), 301u);
  EXPECT_EQ(ReadyWrapper(L"").size(), 27u + 105u);
  EXPECT_EQ(WatermarkStyle().size(), 247u);
}

TEST(ContentPages, ReadyWrapperInsertsTheScriptUnchanged) {
  EXPECT_EQ(ReadyWrapper(L"go('x');"),
            L"(function(){function run(){go('x');}if(document.readyState==='loading'){document.addEventListener("
            L"'DOMContentLoaded',run);}else{run();}})();");
}

TEST(ContentPages, EscapeForJsKeepsTheTextInsideItsQuotes) {
  EXPECT_EQ(EscapeForJs(L"it's \"x\"\\\n\r<b>"), L"it\\'s \\\"x\\\"\\\\\\n\\r\\x3Cb\\x3E");
  EXPECT_EQ(EscapeForJs(L"tab\there\u2028"), L"tab\there\u2028");
  const std::wstring script = WatermarkScript(EscapeForJs(L"O'Brien </script><b>x</b>"));
  EXPECT_NE(script.find(L"wm.textContent = 'O\\'Brien \\x3C/script\\x3E\\x3Cb\\x3Ex\\x3C/b\\x3E';"),
            std::wstring::npos);
}

TEST(ContentPages, EmbedPageFramesTheContentAndEscapesWhatItInserts) {
  const std::wstring page = EmbedPage(L"Miravell", L"https://m.example/doc.pdf", L"student@x.example");
  EXPECT_EQ(page,
            L"<!DOCTYPE html><html><head><meta charset='utf-8'><title>Miravell</title><style>*{margin:0;padding:0;}"
            L"html,body{width:100%;height:100%;overflow:hidden;}iframe{width:100%;height:100%;border:none;}</style>"
            L"</head><body><iframe src='https://m.example/doc.pdf' allowfullscreen "
            L"allow='accelerometer;autoplay;clipboard-write;encrypted-media;gyroscope;picture-in-picture'></iframe>"
            L"<div style='" +
                WatermarkStyle() +
                L"'>student@x.example</div><script>"
                L"window.chrome.webview.postMessage('pageLoaded');</script></body></html>");

  // A quote in the address cannot end the attribute; markup in the watermark stays text.
  const std::wstring hostile =
      EmbedPage(L"Miravell", L"https://m.example/a' onload='alert(1)", L"<img src=x onerror=alert(1)> & 'q'");
  EXPECT_NE(hostile.find(L"src='https://m.example/a&#39; onload=&#39;alert(1)'"), std::wstring::npos);
  EXPECT_NE(hostile.find(L">&lt;img src=x onerror=alert(1)&gt; &amp; &#39;q&#39;</div>"), std::wstring::npos);
  EXPECT_EQ(hostile.find(L"<img"), std::wstring::npos);
}

TEST(ContentPages, EmbedPageFramesOnlyWebAddresses) {
  const struct {
    const wchar_t* contentUrl;
    const wchar_t* src;
  } cases[] = {
      {L"javascript:parent.chrome.webview.postMessage('toggleFullscreen')", L"about:blank"},
      {L"data:text/html,<script>parent.chrome.webview.postMessage('x')</script>", L"about:blank"},
      {L"file://evil.example/share/doc.pdf", L"about:blank"},
      {L" https://m.example/doc.pdf", L"about:blank"},
      {L"", L"about:blank"},
      {L"HTTPS://m.example/doc.pdf", L"HTTPS://m.example/doc.pdf"},
      {L"http://m.example/doc.pdf", L"http://m.example/doc.pdf"},
  };
  for (const auto& c : cases) {
    const std::wstring page = EmbedPage(L"Miravell", c.contentUrl, L"w");
    EXPECT_NE(page.find(std::wstring(L"<iframe src='") + c.src + L"' allowfullscreen "), std::wstring::npos)
        << c.contentUrl;
  }
}

}  // namespace
