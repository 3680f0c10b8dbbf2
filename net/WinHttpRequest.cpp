#include "net/WinHttpRequest.h"

#include "common/FailureLog.h"

namespace {

constexpr DWORD kIgnoreCertificateErrors = 0x3300;  // unknown CA, wrong usage, name, date

}  // namespace

BOOL SetDword(HINTERNET handle, DWORD option, DWORD value) {
  return ::WinHttpSetOption(handle, option, &value, sizeof(value));
}

std::optional<HttpsTarget> HttpsTargetOf(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  if (url.size() > 0xFFFFFFFFu || !::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0) {
    return std::nullopt;
  }
  return HttpsTarget{std::wstring(parts.lpszHostName, parts.dwHostNameLength), parts.nPort};
}

void SetRequestOptions(HINTERNET request, bool pinnedHost, bool redirectPolicy) {
  // Every request of the service has always carried this option set to 1.
  // The option expects a credentials structure, so WinHTTP may refuse the
  // number (logged, harmless); it is kept for what the service sees.
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_GLOBAL_SERVER_CREDS, 1));
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS));
  if (redirectPolicy) MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_REDIRECT_POLICY, 1));
  // Only a pinned host is trusted on its pins alone. Any other host keeps
  // the system's certificate validation: a tolerance there would let anyone
  // on the network answer for it.
  if (pinnedHost) {
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateErrors));
  }
}
