#include "common/Config.h"

#include <array>

#include "common/Scramble.h"
#include "common/Text.h"

namespace config {
namespace {

// Every value is scrambled here, once, at compile time. The line number salts
// the key byte so equal texts are stored differently.
#define MIRAVELL_CONFIG(name, text) constexpr scramble::Text k##name{text, __LINE__};
#define MIRAVELL_CONFIG_HEX(name, size, hex) constexpr scramble::Hex<size> k##name{hex, __LINE__};
#include "common/config/Values.inc"
#undef MIRAVELL_CONFIG
#undef MIRAVELL_CONFIG_HEX

// Lengths the service and the program rely on. Service addresses and host
// names are only fixed for production; the local profile uses *.localhost.
template <typename T>
constexpr std::size_t Length(const T& value) {
  return value.stored.size() - 1;
}
static_assert(Length(kLinkKeyBlock) + 1 == 34, "the link key block is 34 bytes");
static_assert(Length(kUserAgent) == 16);
static_assert(Length(kDeviceHeader1) == 9 && Length(kDeviceHeader2) == 9);
static_assert(Length(kVersionPath) == 31 && Length(kContentPath) == 39 && Length(kServerListPath) == 30);
static_assert(Length(kEnvelopeKey) == 4);
static_assert(Length(kKeyType) == 4 && Length(kKeyUrl) == 3 && Length(kKeyVideoUrl) == 12);
static_assert(Length(kKeyWatermarkText) == 10 && Length(kKeyContentNumber) == 22);
static_assert(Length(kFormTokenPrefix) == 8 && Length(kFormIdPrefix) == 4);
static_assert(Length(kContentHeader1) == 13 && Length(kContentHeader2) == 14);
static_assert(Length(kContentHeader3) == 11 && Length(kContentHeader3Value) == 8);
static_assert(Length(kVideoMainDomain) == 11 && Length(kVideoShortDomain) == 8 && Length(kVideoShortMarker) == 9);
static_assert(Length(kMeetingMarker1) == 8 && Length(kMeetingMarker2) == 9 && Length(kVideoEmbedPrefix) == 30);
static_assert(Length(kMediaVideoSuffix) == 6 && Length(kMediaManifestSuffix) == 9 &&
              Length(kMediaDashPlaylistSuffix) == 20);
static_assert(Length(kPin1) == 44 && Length(kPin2) == 44 && Length(kPin3) == 44 && Length(kPin4) == 44);
static_assert(Length(kPinSecret) == 27);
static_assert(Length(kSignerKeyPin) == 44 || Length(kSignerKeyPin) == 0);
#if defined(MIRAVELL_PROFILE_PRODUCTION)
static_assert(Length(kServiceDomain1) == 9 && Length(kServiceDomain2) == 12);
static_assert(Length(kServiceDomain3) == 12 && Length(kServiceDomain4) == 11);
static_assert(Length(kPinnedDomain) == 20 && Length(kPinUrl) == 33 && Length(kOperatorDomain) == 12);
static_assert(Length(kVersionUrl) == 60 && Length(kScriptUrl) == 59);
#endif

struct Entry {
  std::string_view name;
  std::span<const std::uint8_t> stored;
};

constexpr std::array<Entry, static_cast<std::size_t>(Id::Count)> kEntries{{
#define MIRAVELL_CONFIG(name, text) {#name, k##name.bytes()},
#define MIRAVELL_CONFIG_HEX(name, size, hex) {#name, k##name.bytes()},
#include "common/config/Values.inc"
#undef MIRAVELL_CONFIG
#undef MIRAVELL_CONFIG_HEX
}};

const Entry& EntryOf(Id id) { return kEntries.at(static_cast<std::size_t>(id)); }

}  // namespace

std::string_view Name(Id id) { return EntryOf(id).name; }

std::span<const std::uint8_t> Stored(Id id) { return EntryOf(id).stored; }

std::string Text(Id id) {
  const auto stored = Stored(id);
  std::string text(stored.size() - 1, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(scramble::Unmix(stored, i));
  return text;
}

std::wstring Wide(Id id) {
  SecretText text(Text(id));
  return Utf8ToWide(text.str());
}

std::vector<std::wstring> WideList(Id id) {
  const std::wstring all = Wide(id);
  std::vector<std::wstring> items;
  std::size_t start = 0;
  while (start <= all.size()) {
    const std::size_t end = all.find(static_cast<wchar_t>(kListSeparator), start);
    const std::size_t stop = end == std::wstring::npos ? all.size() : end;
    if (stop > start) items.push_back(all.substr(start, stop - start));
    if (end == std::wstring::npos) break;
    start = end + 1;
  }
  return items;
}

SecretBytes Secret(Id id) {
  const auto stored = Stored(id);
  SecretBytes bytes(stored.size() - 1);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = scramble::Unmix(stored, i);
  return bytes;
}

}  // namespace config
