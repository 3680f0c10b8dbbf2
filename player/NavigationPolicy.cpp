#include "player/NavigationPolicy.h"

#include <mutex>

#include "common/Config.h"
#include "common/Text.h"
#include "links/ContentUrl.h"

namespace {

// Whether host is the entry itself or one of its subdomains (a mere suffix
// without the dot does not count).
bool IsHostOrSubdomain(const std::wstring& host, const std::wstring& entry) {
  return host == entry || (host.size() > entry.size() && host.ends_with(L"." + entry));
}

bool ContainsEither(const std::wstring& text, const std::vector<std::wstring>& names) {
  for (const auto& name : names) {
    if (text.find(name) != std::wstring::npos) return true;
  }
  return false;
}

}  // namespace

std::wstring StripQueryAndFragment(const std::wstring& url) { return url.substr(0, url.find_first_of(L"?#")); }

std::wstring ExtractHost(const std::wstring& url) {
  std::wstring text = url.rfind(L"blob:", 0) == 0 ? url.substr(5) : url;
  const std::size_t scheme = text.find(L"://");
  if (scheme == std::wstring::npos) return {};
  // The authority ends at the path, the query or the fragment. A user name
  // or password before "@" is not the host: "https://cdn.example@evil.example/"
  // goes to evil.example and must be judged as such.
  std::wstring host = text.substr(scheme + 3);
  host = host.substr(0, host.find_first_of(L"/?#\\"));
  if (const std::size_t at = host.rfind(L'@'); at != std::wstring::npos) host.erase(0, at + 1);
  if (const std::size_t colon = host.find(L':'); colon != std::wstring::npos) host.resize(colon);
  return ToLowerWide(host);
}

std::wstring BaseDomain(const std::wstring& host) {
  const std::size_t last = host.rfind(L'.');
  if (last == std::wstring::npos || last == 0) return host;
  const std::size_t before = host.rfind(L'.', last - 1);
  return before == std::wstring::npos ? host : host.substr(before + 1);
}

bool IsSameSite(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  if (a == b) return true;
  if (a.size() > b.size() && a.ends_with(L"." + b)) return true;
  if (b.size() > a.size() && b.ends_with(L"." + a)) return true;
  return BaseDomain(a) == BaseDomain(b);
}

const std::vector<std::wstring>& AllowedHosts() {
  static std::once_flag once;
  static std::vector<std::wstring> hosts;
  std::call_once(once, [] { hosts = config::WideList(config::Id::AllowedHosts); });
  return hosts;
}

bool PlayerMayNavigate(const std::wstring& uri, const PlayerContent& content) {
  if (uri == L"about:blank") return true;  // pages the player generates itself
  const std::wstring c = StripQueryAndFragment(content.contentUrl);
  const std::wstring u = StripQueryAndFragment(uri);
  if (u == c) return true;

  const std::wstring cHost = ExtractHost(content.contentUrl);
  const std::wstring uHost = ExtractHost(uri);
  const std::wstring dHost = ExtractHost(content.domain);
  if (IsMeetingUrl(c) && IsMeetingUrl(u)) return true;
  if (IsVideoPlatformUrl(c) && IsVideoPlatformUrl(u)) return true;
  if (IsSameSite(dHost, uHost) || IsSameSite(cHost, uHost)) return true;
  if (u.rfind(c + L"/", 0) == 0) return true;
  for (const auto& host : AllowedHosts()) {
    if (IsHostOrSubdomain(uHost, host)) return true;
  }
  if (content.contentType == L"url_direct") {
    for (const auto id : {config::Id::MediaPair1, config::Id::MediaPair2}) {
      const auto pair = config::WideList(id);
      if (ContainsEither(cHost, pair) && ContainsEither(uHost, pair)) return true;
    }
  }
  return false;
}
