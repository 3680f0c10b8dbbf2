#include "net/HttpClient.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "alerts/DeviceIdentity.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Text.h"
#include "net/Pinning.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kResolveTimeoutMs = 10000;
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
constexpr DWORD kOption98 = 98;
constexpr DWORD kIgnoreCertificateErrors = 0x3300;  // unknown CA, wrong usage, name, date
constexpr DWORD kAddHeaderFlags = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;

// The callers log a failure, so that the line names the option.
BOOL SetDword(HINTERNET handle, DWORD option, DWORD value) {
  return ::WinHttpSetOption(handle, option, &value, sizeof(value));
}

void AddHeader(HINTERNET request, const std::wstring& line) {
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(line.size()), kAddHeaderFlags));
}

std::string ErrorWithNumber(const char* text, DWORD error) { return text + std::to_string(error); }

// What is left of the deadline in whole milliseconds, rounded up; 0 once it
// has passed.
DWORD RemainingMs(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF));
}

// Lowers every timeout of the request to what is left of the deadline before
// each blocking call, so that no single wait (connect, send, the headers, one
// read) can outlast it: WinHTTP's receive timeout counts per read, and a
// server dripping a byte at a time never trips it. Checking the clock between
// reads alone would still leave one whole read timeout after the deadline;
// closing the handle from a timer instead would race the owner's own close.
// False when nothing is left (a zero timeout would mean no timeout at all).
bool BoundTimeouts(HINTERNET request, Clock::time_point deadline) {
  const DWORD left = RemainingMs(deadline);
  if (left == 0) return false;
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::WinHttpSetTimeouts(
      request, static_cast<int>(std::min(kResolveTimeoutMs, left)), static_cast<int>(std::min(kConnectTimeoutMs, left)),
      static_cast<int>(std::min(kSendTimeoutMs, left)), static_cast<int>(std::min(kReceiveTimeoutMs, left))));
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, left));
  return true;
}

// A failed call's text, or the deadline's when that is what ended it.
std::string CallFailure(const char* text, DWORD error, Clock::time_point deadline) {
  return Clock::now() >= deadline ? std::string(kDeadlineError) : ErrorWithNumber(text, error);
}

// Failures after the status was read leave the response as every other
// transport failure does: no status, no body.
HttpResponse& Fail(HttpResponse& response, std::string error) {
  response.statusCode = 0;
  response.body.clear();
  response.body.shrink_to_fit();
  response.success = false;
  response.error = std::move(error);
  return response;
}

}  // namespace

void SetRequestOptions(HINTERNET request, bool pinnedHost, bool redirectPolicy) {
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, kOption98, 1));
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS));
  if (redirectPolicy) MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_REDIRECT_POLICY, 1));
  // Only a pinned host is trusted on its pins alone. Any other host keeps
  // the system's certificate validation: a tolerance there would let anyone
  // on the network answer for it.
  if (pinnedHost) {
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_SECURITY_FLAGS, kIgnoreCertificateErrors));
  }
}

HttpClient::HttpClient(std::chrono::milliseconds deadline) : deadline_(deadline) {
  const std::wstring agent = config::Wide(config::Id::UserAgent);
  session_.reset(
      ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) throw std::runtime_error("WinHttpOpen failed");
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpSetTimeouts(session_.get(), static_cast<int>(kResolveTimeoutMs), static_cast<int>(kConnectTimeoutMs),
                           static_cast<int>(kSendTimeoutMs), static_cast<int>(kReceiveTimeoutMs)));
}

void HttpClient::SetDefaultHeader(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::mutex> guard(lock_);
  defaultHeaders_[name] = value;
}

HttpResponse HttpClient::Get(const std::wstring& url) { return Request(L"GET", url, {}, {}); }

bool HttpClient::Preflight(const std::wstring& host, INTERNET_PORT port, Clock::time_point deadline,
                           HttpResponse& response) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (preflightedHosts_.count(host) != 0) return true;
  }
  // Without a connection or a request the check is skipped; the request
  // itself then meets the pins.
  if (UniqueInternet connection{
          MIRAVELL_LOG_LAST_ERROR_IF_NULL(::WinHttpConnect(session_.get(), host.c_str(), port, 0))}) {
    if (UniqueInternet request{MIRAVELL_LOG_LAST_ERROR_IF_NULL(
            ::WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE))}) {
      SetRequestOptions(request.get(), IsPinnedHost(host), false);
      if (!BoundTimeouts(request.get(), deadline)) {
        response.error = kDeadlineError;
        return false;
      }
      if (MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                                                WINHTTP_NO_REQUEST_DATA, 0, 0, 0))) {
        MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::WinHttpReceiveResponse(request.get(), nullptr));
      }
      const bool pinsHold = ValidateServerPins(request.get(), host);
      request.reset();
      if (!pinsHold) {
        response.error = "Pre-flight SSL Pin validation FAILED for " + WideToUtf8(host) + ". MITM Attack Prevented!";
        return false;
      }
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  preflightedHosts_.insert(host);
  return true;
}

HttpResponse HttpClient::Request(const std::wstring& method, const std::wstring& url, const std::string& body,
                                 const std::wstring& contentType) {
  HttpResponse response;
  const Clock::time_point deadline = Clock::now() + deadline_;

  std::vector<wchar_t> hostBuffer(256, L'\0');
  std::vector<wchar_t> pathBuffer(2048, L'\0');
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = hostBuffer.data();
  parts.dwHostNameLength = static_cast<DWORD>(hostBuffer.size());
  parts.lpszUrlPath = pathBuffer.data();
  parts.dwUrlPathLength = static_cast<DWORD>(pathBuffer.size());
  if (url.size() > 0xFFFFFFFFu || !::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    response.error = "Failed to parse URL";
    return response;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;

  if (https && !Preflight(host, parts.nPort, deadline, response)) return response;

  UniqueInternet connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
  if (!connection) {
    response.error = "WinHttpConnect failed";
    return response;
  }
  UniqueInternet request(::WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                              WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                              https ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    response.error = "WinHttpOpenRequest failed";
    return response;
  }
  SetRequestOptions(request.get(), https && IsPinnedHost(host), true);

  // The default headers hold the pin download's secret and the device's
  // identity: only the service gets them, and only over TLS. A host a link
  // or an answer named gets nothing but the request itself.
  std::map<std::wstring, std::wstring> headers;
  if (https && IsServiceHost(host)) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      headers = defaultHeaders_;
    }
    const DeviceIdentity& identity = GetDeviceIdentity();
    if (!identity.machineKey.empty()) headers[config::Wide(config::Id::DeviceHeader1)] = identity.machineKey;
    if (!identity.machineModel.empty()) headers[config::Wide(config::Id::DeviceHeader2)] = identity.machineModel;
  }
  for (const auto& [name, value] : headers) AddHeader(request.get(), name + L": " + value);
  if (!contentType.empty()) AddHeader(request.get(), L"Content-Type: " + contentType);

  const auto length = static_cast<DWORD>(body.size());
  void* data = body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data());
  if (!BoundTimeouts(request.get(), deadline)) return Fail(response, kDeadlineError);
  if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, data, length, length, 0)) {
    return Fail(response, CallFailure("WinHttpSendRequest failed: ", ::GetLastError(), deadline));
  }
  if (!BoundTimeouts(request.get(), deadline)) return Fail(response, kDeadlineError);
  if (!::WinHttpReceiveResponse(request.get(), nullptr)) {
    return Fail(response, CallFailure("WinHttpReceiveResponse failed: ", ::GetLastError(), deadline));
  }
  if (https && !ValidateServerPins(request.get(), host)) {
    response.error = "SSL Pin validation FAILED for " + WideToUtf8(host);
    return response;
  }

  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX));
  response.statusCode = status;

  // A read that fails leaves a cut-off body; it is a failure, not an answer.
  for (;;) {
    if (!BoundTimeouts(request.get(), deadline)) return Fail(response, kDeadlineError);
    DWORD available = 0;
    if (!::WinHttpQueryDataAvailable(request.get(), &available)) {
      return Fail(response, CallFailure("WinHttpQueryDataAvailable failed: ", ::GetLastError(), deadline));
    }
    if (available == 0) break;
    if (available > kMaxResponseBodyBytes - response.body.size()) return Fail(response, kBodyTooLargeError);
    std::vector<char> chunk(static_cast<std::size_t>(available) + 1, '\0');
    DWORD read = 0;
    if (!::WinHttpReadData(request.get(), chunk.data(), available, &read)) {
      return Fail(response, CallFailure("WinHttpReadData failed: ", ::GetLastError(), deadline));
    }
    if (read == 0) break;
    response.body.append(chunk.data(), read);
  }
  response.success = response.statusCode >= 200 && response.statusCode <= 299;
  return response;
}

HttpClient& SharedHttpClient() {
  static std::once_flag once;
  static std::unique_ptr<HttpClient> shared;
  std::call_once(once, [] {
    auto client = std::make_unique<HttpClient>();
    WINHTTP_PROXY_INFO noProxy{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
        ::WinHttpSetOption(client->session(), WINHTTP_OPTION_PROXY, &noProxy, sizeof(noProxy)));
    shared = std::move(client);
  });
  return *shared;
}
