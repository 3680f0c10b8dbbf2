#include "player/NavigationPolicy.h"

#include <mutex>

#include "common/Config.h"
#include "common/Text.h"
#include "links/ContentUrl.h"
#include "net/ServiceHosts.h"
#include "player/PublicSuffix.h"

namespace {

bool StartsWithAnyCase(std::wstring_view text, std::wstring_view prefix) {
  return text.size() >= prefix.size() && ToLowerWide(text.substr(0, prefix.size())) == prefix;
}

// Where the authority of a web address starts; npos for any other address.
// The scheme counts only at the very start: "data:text/html,https://host/"
// is a page of its own, not one of host.
std::size_t AuthorityStart(std::wstring_view url) {
  for (const std::wstring_view scheme : {std::wstring_view(L"http://"), std::wstring_view(L"https://")}) {
    if (StartsWithAnyCase(url, scheme)) return scheme.size();
  }
  return std::wstring_view::npos;
}

bool IsIpAddress(const std::wstring& host) {
  return host.starts_with(L'[') || host.find_first_not_of(L"0123456789.") == std::wstring::npos;
}

bool OnEitherHost(const std::wstring& host, const std::vector<std::wstring>& domains) {
  for (const auto& domain : domains) {
    if (IsHostOrSubdomain(host, domain)) return true;
  }
  return false;
}

}  // namespace

std::wstring StripQueryAndFragment(const std::wstring& url) { return url.substr(0, url.find_first_of(L"?#")); }

bool IsWebAddress(std::wstring_view url) { return AuthorityStart(url) != std::wstring_view::npos; }

std::wstring ExtractHost(const std::wstring& url) {
  std::wstring_view text = url;
  if (StartsWithAnyCase(text, L"blob:")) text.remove_prefix(5);
  const std::size_t start = AuthorityStart(text);
  if (start == std::wstring_view::npos) return {};
  // The authority ends at the path, the query or the fragment. A user name
  // or password before "@" is not the host: "https://cdn.example@evil.example/"
  // goes to evil.example and must be judged as such.
  std::wstring_view authority = text.substr(start);
  authority = authority.substr(0, authority.find_first_of(L"/?#\\"));
  if (const std::size_t at = authority.rfind(L'@'); at != std::wstring_view::npos) authority.remove_prefix(at + 1);
  std::wstring_view host;
  if (authority.starts_with(L'[')) {
    // An IPv6 literal is its whole bracketed address; its colons are no port.
    const std::size_t close = authority.find(L']');
    if (close == std::wstring_view::npos) return {};
    host = authority.substr(0, close + 1);
  } else {
    host = authority.substr(0, authority.find(L':'));
  }
  return ToLowerWide(WithoutTrailingDot(host));
}

std::wstring BaseDomain(const std::wstring& host) {
  if (host.empty() || IsIpAddress(host)) return host;
  std::wstring registrable = RegistrableDomain(host);
  return registrable.empty() ? host : registrable;
}

bool IsSameSite(const std::wstring& a, const std::wstring& b) {
  if (a.empty() || b.empty()) return false;
  // A subdomain shares its parent's registrable domain, so no separate
  // subdomain rule: it would make every name under "com.sa" one site with
  // "com.sa".
  return a == b || BaseDomain(a) == BaseDomain(b);
}

const std::vector<std::wstring>& AllowedHosts() {
  static std::once_flag once;
  static std::vector<std::wstring> hosts;
  std::call_once(once, [] { hosts = config::WideList(config::Id::AllowedHosts); });
  return hosts;
}

bool PlayerMayNavigate(const std::wstring& uri, const PlayerContent& content) {
  if (uri == L"about:blank") return true;  // pages the player generates itself
  // Only web pages (and their blobs) go further: a data:, file: or
  // javascript: address is never a page of an allowed host, whatever text
  // follows its scheme.
  const std::wstring uHost = ExtractHost(uri);
  if (uHost.empty()) return false;

  const std::wstring c = StripQueryAndFragment(content.contentUrl);
  const std::wstring u = StripQueryAndFragment(uri);
  if (u == c) return true;

  const std::wstring cHost = ExtractHost(content.contentUrl);
  const std::wstring dHost = ExtractHost(content.domain);
  // The platform rules look at hosts only: the platform's name in a path or a
  // query of some other site must not let that site in.
  if (IsMeetingHost(cHost) && IsMeetingHost(uHost)) return true;
  if (IsVideoPlatformHost(cHost) && IsVideoPlatformHost(uHost)) return true;
  if (IsSameSite(dHost, uHost) || IsSameSite(cHost, uHost)) return true;
  if (u.rfind(c + L"/", 0) == 0) return true;
  if (OnEitherHost(uHost, AllowedHosts())) return true;
  if (content.contentType == L"url_direct") {
    for (const auto id : {config::Id::MediaPair1, config::Id::MediaPair2}) {
      const auto pair = config::WideList(id);
      if (OnEitherHost(cHost, pair) && OnEitherHost(uHost, pair)) return true;
    }
  }
  return false;
}

namespace {

// The host of an https:// page; empty for anything else, a blob's page included.
std::wstring SecurePageHost(const std::wstring& uri) {
  return StartsWithAnyCase(uri, L"https://") ? ExtractHost(uri) : std::wstring();
}

}  // namespace

bool PlayerMayUseDevices(const std::wstring& uri, const std::wstring& contentUrl) {
  const std::wstring host = SecurePageHost(uri);
  if (host.empty()) return false;
  if (IsMeetingHost(host) || IsServiceHost(host)) return true;
  // A lesson's own pages may need the camera (a proctored test, a live
  // class), but only when the service vouched for the lesson: a direct
  // address comes from a link anyone can make.
  const std::wstring contentHost = SecurePageHost(contentUrl);
  return !contentHost.empty() && IsSameSite(contentHost, host);
}

bool InitScreenMayUseDevices(const std::wstring& uri) {
  const std::wstring host = SecurePageHost(uri);
  return !host.empty() && IsServiceHost(host);
}
