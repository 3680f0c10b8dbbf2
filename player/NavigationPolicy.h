#pragma once
// Where the player's browser may go: the content's own site, the service's
// site and a fixed list of media and platform hosts. Plain text rules, apart
// from the browser.
#include <string>
#include <string_view>
#include <vector>

// The text before the first "?" or "#".
std::wstring StripQueryAndFragment(const std::wstring& url);

// Whether the address starts with "http://" or "https://", in any case.
bool IsWebAddress(std::wstring_view url);

// The lower-case host of a web address, or of the web page a blob: address
// belongs to, without user name, password, port or one trailing dot; an IPv6
// literal keeps its brackets. Empty for every other kind of address (data:,
// file:, javascript:, a blob of anything but a web page...).
std::wstring ExtractHost(const std::wstring& url);

// The registrable domain of a host ("school.com.sa" for
// "portal.school.com.sa"); a host that is a public suffix itself, or an IP
// address, stands for itself.
std::wstring BaseDomain(const std::wstring& host);

// Equal hosts, or hosts of the same registrable domain.
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

// Whether a page of the player at uri may use the camera, the microphone and
// notifications without asking: pages of the meeting platform, of the
// service, and of the content's own site when the service named the content
// (contentUrl empty otherwise). Always over https.
bool PlayerMayUseDevices(const std::wstring& uri, const std::wstring& contentUrl);

// The same for the start screen: the service's pages only.
bool InitScreenMayUseDevices(const std::wstring& uri);
