#include "player/ContentPages.h"

#include "common/Html.h"
#include "common/PageFill.h"
#include "player/NavigationPolicy.h"
#include "player/PageFiles.h"

const std::wstring& LoaderScript() {
  static const std::wstring script = pages::kLoaderScript;
  return script;
}

std::wstring WatermarkScript(const std::wstring& escapedText) {
  return FillPage(pages::kWatermarkScript, {{L"WATERMARK_TEXT", escapedText}});
}

std::wstring ReadyWrapper(const std::wstring& script) { return FillPage(pages::kReadyWrapper, {{L"SCRIPT", script}}); }

const std::wstring& WatermarkStyle() {
  static const std::wstring style = pages::kWatermarkStyle;
  return style;
}

std::wstring EmbedPage(const std::wstring& productName, const std::wstring& contentUrl,
                       const std::wstring& watermarkText) {
  // The address sits in a single-quoted attribute of a page that may
  // message the host: a quote in it must not end the attribute, and a
  // javascript: or data: address must not run in (or beside) it.
  const std::wstring frameSource = IsWebAddress(contentUrl) ? EscapeForHtml(contentUrl) : L"about:blank";
  return FillPage(pages::kEmbedPage, {{L"PRODUCT_NAME", productName},
                                      {L"CONTENT_URL", frameSource},
                                      {L"WATERMARK_STYLE", WatermarkStyle()},
                                      {L"WATERMARK_TEXT", EscapeForHtml(watermarkText)}});
}

std::wstring EscapeForJs(const std::wstring& text) {
  return ReplaceEach(text, {{L'\n', L"\\n"},
                            {L'\r', L"\\r"},
                            {L'"', L"\\\""},
                            {L'\'', L"\\'"},
                            {L'\\', L"\\\\"},
                            {L'<', L"\\x3C"},
                            {L'>', L"\\x3E"}});
}
