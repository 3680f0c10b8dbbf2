#pragma once
// How a content address is treated: video-platform and meeting addresses are
// recognised by plain case-insensitive substring search over the whole text
// (no URL parsing), and video-platform addresses are rewritten to the
// platform's embed form.
#include <string>
#include <string_view>

#include "common/Text.h"  // ToLowerWide

// Whether the address mentions the video platform's main or short-link domain.
[[nodiscard]] bool IsVideoPlatformUrl(std::wstring_view url);

// Whether the address mentions the meeting platform's domain after a dot or
// after "//".
[[nodiscard]] bool IsMeetingUrl(std::wstring_view url);

// The same two platforms judged by a lower-case host alone, for rules where
// the rest of the address must not count ("https://evil.example/youtube.com").
[[nodiscard]] bool IsVideoPlatformHost(std::wstring_view host);
[[nodiscard]] bool IsMeetingHost(std::wstring_view host);

// The platform's embed address for a short-link, shorts, live or watch
// address, or the embed address given with its "origin" parameter added; any
// other address comes back unchanged. The origin is the service domain of
// the application state.
[[nodiscard]] std::wstring MakeVideoEmbedUrl(std::wstring_view url);

// UTF-8 percent-encoding: letters, digits and "-._~" stay, every other byte
// becomes "%" and two lower-case hex digits.
[[nodiscard]] std::wstring PercentEncode(std::wstring_view text);
