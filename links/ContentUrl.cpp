#include "links/ContentUrl.h"

#include "common/AppState.h"
#include "common/Config.h"
#include "common/Text.h"

namespace {

constexpr std::wstring_view kEmbedPath = L"/embed/";
constexpr std::wstring_view kShortsPath = L"/shorts/";
constexpr std::wstring_view kLivePath = L"/live/";
constexpr std::wstring_view kWatchParameter = L"v=";
constexpr std::wstring_view kOriginParameter = L"origin=";

bool Contains(std::wstring_view text, std::wstring_view part) { return text.find(part) != std::wstring_view::npos; }

// The id after a path marker: up to the next "/", else the next "?", else the end.
std::size_t EndOfPathId(std::wstring_view url, std::size_t start) {
  std::size_t end = url.find(L'/', start);
  if (end == std::wstring_view::npos) end = url.find(L'?', start);
  return end == std::wstring_view::npos ? url.size() : end;
}

std::wstring EncodedOrigin() { return PercentEncode(GetAppState().domain); }

}  // namespace

bool IsVideoPlatformUrl(std::wstring_view url) {
  const std::wstring lower = ToLowerWide(url);
  return Contains(lower, config::Wide(config::Id::VideoMainDomain)) ||
         Contains(lower, config::Wide(config::Id::VideoShortDomain));
}

bool IsMeetingUrl(std::wstring_view url) {
  const std::wstring lower = ToLowerWide(url);
  return Contains(lower, config::Wide(config::Id::MeetingMarker1)) ||
         Contains(lower, config::Wide(config::Id::MeetingMarker2));
}

bool IsVideoPlatformHost(std::wstring_view host) {
  return IsHostOrSubdomain(host, config::Wide(config::Id::VideoMainDomain)) ||
         IsHostOrSubdomain(host, config::Wide(config::Id::VideoShortDomain));
}

bool IsMeetingHost(std::wstring_view host) { return IsHostOrSubdomain(host, config::Wide(config::Id::MeetingDomain)); }

std::wstring MakeVideoEmbedUrl(std::wstring_view url) {
  // Markers are found in the lower-cased copy, but the id is cut from the
  // address as given: video ids are case-sensitive.
  const std::wstring lower = ToLowerWide(url);
  std::size_t idStart = 0;
  std::size_t idEnd = 0;

  const std::wstring shortMarker = config::Wide(config::Id::VideoShortMarker);
  if (const auto at = lower.find(shortMarker); at != std::wstring::npos) {
    idStart = at + shortMarker.size();
    const auto query = url.find(L'?', idStart);
    idEnd = query == std::wstring_view::npos ? url.size() : query;
  } else if (Contains(lower, kEmbedPath)) {
    // The origin test is on the address as given: "ORIGIN=" is not the
    // parameter the embedded player reads.
    if (Contains(url, kOriginParameter)) return std::wstring(url);
    std::wstring embed(url);
    embed += Contains(url, L"?") ? L'&' : L'?';
    embed += kOriginParameter;
    embed += EncodedOrigin();
    return embed;
  } else if (const auto shorts = lower.find(kShortsPath); shorts != std::wstring::npos) {
    idStart = shorts + kShortsPath.size();
    idEnd = EndOfPathId(url, idStart);
  } else if (const auto live = lower.find(kLivePath); live != std::wstring::npos) {
    idStart = live + kLivePath.size();
    idEnd = EndOfPathId(url, idStart);
  } else if (const auto watch = lower.find(kWatchParameter); watch != std::wstring::npos) {
    idStart = watch + kWatchParameter.size();
    const auto amp = url.find(L'&', idStart);
    idEnd = amp == std::wstring_view::npos ? url.size() : amp;
  } else {
    return std::wstring(url);
  }

  std::wstring_view id = url.substr(idStart, idEnd - idStart);
  if (id.empty()) return std::wstring(url);
  while (!id.empty() && id.back() == L'/') id.remove_suffix(1);
  std::wstring embed = config::Wide(config::Id::VideoEmbedPrefix);
  embed += id;
  embed += L"?";
  embed += kOriginParameter;
  embed += EncodedOrigin();
  return embed;
}

std::wstring PercentEncode(std::wstring_view text) {
  const std::string utf8 = WideToUtf8(text);
  std::string encoded;
  encoded.reserve(utf8.size() * 3);
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    const bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                      byte == '-' || byte == '.' || byte == '_' || byte == '~';
    if (keep) {
      encoded.push_back(c);
    } else {
      encoded.push_back('%');
      AppendHexByte(encoded, byte, HexCase::Lower);
    }
  }
  return Utf8ToWide(encoded);
}
