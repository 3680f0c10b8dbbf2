#include "links/SchemeLink.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <ios>
#include <sstream>

#include "common/FailureLog.h"
#include "common/AppState.h"
#include "common/Config.h"
#include "common/Text.h"
#include "links/ContentUrl.h"
#include "links/LinkEnvelope.h"

namespace {

constexpr std::size_t kLinkKeySize = 32;
constexpr std::size_t kLinkValueCount = 3;

bool IsSlash(wchar_t c) { return c == L'/' || c == L'\\'; }

// Steps shared by both ways of getting the key. The key is only built once
// the link has split into enough values, and any failure from then on becomes
// a reason code instead of an exception.
bool DecodeLink(std::wstring_view link, const std::function<SecretBytes()>& makeKey, LinkValues& values,
                std::string& reason) {
  reason = kReasonUnknownError;
  std::wstring decoded = UrlDecode(link);
  // Form encoding on the way here turned the "+" of the Base64 values into spaces.
  std::replace(decoded.begin(), decoded.end(), L' ', L'+');

  // Shells and browsers hand the link over with quotes, other text or the
  // scheme in capitals before it; the payload starts after the first
  // "scheme:" whatever its case.
  const std::wstring prefix = ToLowerWide(GetAppState().scheme) + L":";
  const std::size_t at = ToLowerWide(decoded).find(prefix);
  std::wstring_view payload(decoded);
  if (at != std::wstring::npos) payload.remove_prefix(at + prefix.size());
  while (!payload.empty() && IsSlash(payload.back())) payload.remove_suffix(1);
  while (!payload.empty() && IsSlash(payload.front())) payload.remove_prefix(1);

  const std::vector<std::wstring> parts = SplitLink(payload);
  if (parts.size() < kLinkValueCount) {
    reason = kReasonSplitFailedPrefix + std::to_string(parts.size());
    return false;
  }

  try {
    const SecretBytes key = makeKey();
    values.linkToken = DecryptLinkEnvelope(WideToUtf8(parts[0]), key.span());
    values.contentLinkId = DecryptLinkEnvelope(WideToUtf8(parts[1]), key.span());
    values.domain = DecryptLinkEnvelope(WideToUtf8(parts[2]), key.span());
    if (values.linkToken.empty() || values.contentLinkId.empty() || values.domain.empty()) {
      reason = kReasonEmptyValues;
      return false;
    }
    return true;
  } catch (const std::exception& e) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    reason = std::string(kReasonExceptionPrefix) + e.what();
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    reason = kReasonUnknownException;
  }
  return false;
}

}  // namespace

std::wstring UrlDecode(std::wstring_view text) {
  const std::string bytes = WideToUtf8(text);
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '%' && bytes.size() - i > 2) {
      // Read as a stream reads a hex number: leading blanks skipped, a sign
      // allowed, reading stops at the first non-digit. Links in the wild were
      // made against exactly this reading.
      std::istringstream digits(bytes.substr(i + 1, 2));
      int value = 0;
      if (digits >> std::hex >> value) {
        out.push_back(static_cast<char>(static_cast<unsigned>(value) & 0xFFu));
        i += 2;
        continue;
      }
    }
    out.push_back(bytes[i]);
  }
  return Utf8ToWide(out);
}

std::vector<std::wstring> SplitLink(std::wstring_view text) {
  std::vector<std::wstring> parts;
  std::wistringstream stream{std::wstring(text)};
  std::wstring part;
  while (std::getline(stream, part, L':')) parts.push_back(part);
  return parts;
}

SecretBytes BuildLinkKey() {
  const SecretBytes block = config::Secret(config::Id::LinkKeyBlock);
  SecretBytes key(kLinkKeySize);
  std::copy_n(block.data(), std::min(kLinkKeySize, block.size()), key.data());
  return key;
}

bool DecodeSchemeLink(std::wstring_view link, LinkValues& values, std::string& reason) {
  return DecodeLink(
      link, [] { return BuildLinkKey(); }, values, reason);
}

bool DecodeSchemeLink(std::wstring_view link, std::span<const std::uint8_t> linkKey, LinkValues& values,
                      std::string& reason) {
  return DecodeLink(
      link,
      [linkKey] {
        SecretBytes key(linkKey.size());
        std::copy(linkKey.begin(), linkKey.end(), key.data());
        return key;
      },
      values, reason);
}

std::wstring MakeSchemeLink(const LinkValues& values, std::span<const std::uint8_t> linkKey, bool withMac) {
  std::wstring link = GetAppState().scheme + L":";
  link += Utf8ToWide(MakeLinkEnvelope(values.linkToken, linkKey, withMac));
  link += L":";
  link += Utf8ToWide(MakeLinkEnvelope(values.contentLinkId, linkKey, withMac));
  link += L":";
  link += Utf8ToWide(MakeLinkEnvelope(values.domain, linkKey, withMac));
  return link;
}
