#pragma once
// What every HTTPS request of the program shares, the client's and the
// browser hosts' pre-flights alike: the address's target and the options
// each request is sent with.
#include <windows.h>
#include <winhttp.h>

#include <optional>
#include <string>

BOOL SetDword(HINTERNET handle, DWORD option, DWORD value);

// The host (as written) and port of an https:// address; nothing for any
// other address.
struct HttpsTarget {
  std::wstring host;
  INTERNET_PORT port = 0;
};
std::optional<HttpsTarget> HttpsTargetOf(const std::wstring& url);

// Sets the per-request options the program uses: option 98, no redirects,
// and, for a pinned host only, the certificate-error tolerance under which
// its pins decide alone.
void SetRequestOptions(HINTERNET request, bool pinnedHost, bool redirectPolicy);
