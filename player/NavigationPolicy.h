#pragma once
// Where the player's browser may go: the content's own site, the service's
// site and a fixed list of media and platform hosts. Plain text rules, apart
// from the browser.
#include <string>
#include <vector>

// The text before the first "?" or "#".
std::wstring StripQueryAndFragment(const std::wstring& url);

// The lower-case host of an address (a blob: address gives its page's host),
// without user name, password or port; empty when there is no "://".
std::wstring ExtractHost(const std::wstring& url);

// The last two dot-separated labels of a host.
std::wstring BaseDomain(const std::wstring& host);

// Equal hosts, one a subdomain of the other, or the same base domain.
bool IsSameSite(const std::wstring& a, const std::wstring& b);

// The built-in list of media and platform hosts (lower case, list order).
const std::vector<std::wstring>& AllowedHosts();

// The content the player shows, as the navigation rules need it.
struct PlayerContent {
  std::wstring contentUrl;
  std::wstring domain;
  std::wstring contentType;
};

// Whether a top-level navigation of the player to uri may go ahead.
bool PlayerMayNavigate(const std::wstring& uri, const PlayerContent& content);
