#pragma once
// The pages and scripts the player adds to its content: the loading overlay,
// the watermark, the wrapper of the service's script, and the page that
// frames content the browser should not show on its own.
#include <string>

// The loading overlay, injected into every document of the player. The start
// screen's bar has an overlay of its own in its script: a light veil shown on
// unload, not a dark cover lifted on load; the two share only the element id.
const std::wstring& LoaderScript();

// The watermark for content navigated to directly; the text must already be
// escaped for a single-quoted script string (EscapeForJs).
std::wstring WatermarkScript(const std::wstring& escapedText);

// Runs a script once the document is ready (the script is inserted as it is).
std::wstring ReadyWrapper(const std::wstring& script);

// The inline style of the watermark block in generated pages.
const std::wstring& WatermarkStyle();

// The framing page: the content in a full-window frame, the watermark over
// it, and "pageLoaded" posted to the host.
std::wstring EmbedPage(const std::wstring& productName, const std::wstring& contentUrl,
                       const std::wstring& watermarkText);

// For use inside a single-quoted script string literal.
std::wstring EscapeForJs(const std::wstring& text);
