#include "net/HttpClient.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "identity/DeviceIdentity.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/NativeVersion.h"
#include "common/Text.h"
#include "net/Pinning.h"
#include "net/RunAhead.h"
#include "net/WinHttpRequest.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kResolveTimeoutMs = 10000;
constexpr DWORD kConnectTimeoutMs = 10000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
constexpr DWORD kAddHeaderFlags = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;

// The callers log a failure, so that the line names the option.
void AddHeader(HINTERNET request, const std::wstring& line) {
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(line.size()), kAddHeaderFlags));
}

std::string ErrorWithNumber(const char* text, DWORD error) { return text + std::to_string(error); }

// TLS 1.2, and 1.3 where Windows has it on by default (Windows 11 and
// Server 2022 onwards). Windows 10 builds carry 1.3 only as an experiment,
// off in the system, and asking WinHTTP for it there can fail the option or
// the handshake. Older protocols are left out either way.
DWORD SecureProtocols() {
  constexpr DWORD kTls12 = 0x00000800;       // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2
  constexpr DWORD kTls13 = 0x00002000;       // WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
  constexpr DWORD kFirstTls13Build = 20348;  // Server 2022; Windows 11 is 22000
  OSVERSIONINFOEXW version{};
  QueryNativeVersion(version);
  return version.dwMajorVersion >= 10 && version.dwBuildNumber >= kFirstTls13Build ? kTls12 | kTls13 : kTls12;
}

// The pins a pre-flight of the host is held against now; empty for none.
std::vector<std::string> CurrentPins(const std::wstring& host) {
  auto entry = FindPinEntry(host);
  return entry ? std::move(entry->pins) : std::vector<std::string>();
}

// What is left of the deadline in whole milliseconds, rounded up; 0 once it
// has passed.
DWORD RemainingMs(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF));
}

// Lowers every timeout of the request to a share of what is left of the
// deadline, so that the waits WinHTTP may make before it reports again
// (share 2: connecting, then the TLS handshake) cannot together outlast it.
// WinHTTP's receive timeout counts per read, and a server dripping a byte at
// a time never trips it, so this is done again before every call and at each
// step WinHTTP reports inside one. False when nothing is left (a zero
// timeout would mean no timeout at all).
bool BoundTimeouts(HINTERNET request, Clock::time_point deadline, DWORD share = 1) {
  const DWORD left = RemainingMs(deadline);
  if (left == 0) return false;
  const DWORD each = std::max<DWORD>(left / share, 1);
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(::WinHttpSetTimeouts(
      request, static_cast<int>(std::min(kResolveTimeoutMs, each)), static_cast<int>(std::min(kConnectTimeoutMs, each)),
      static_cast<int>(std::min(kSendTimeoutMs, each)), static_cast<int>(std::min(kReceiveTimeoutMs, each))));
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, each));
  return true;
}

// One request handle while it runs. Inside a blocking call WinHTTP reports,
// on the calling thread, that it resolves, connects, is about to write the
// request and waits for the answer. Just before the request is written, the
// certificate of the connection it goes out on (a new or a reused one) is
// held against the host's pins and the request is cancelled on a mismatch,
// so no byte of it reaches a key the pins refuse. At every report the
// timeouts are cut to what is left, and a request whose deadline has passed
// is cancelled there. A timer cancels it when the deadline passes while a
// call is under way (the call holds the handle then, so closing it cannot
// hit a handle value reused by someone else). Cancelling closes the handle:
// whoever comes first takes it out under the lock, so it is closed once and
// never used after.
class WatchedRequest {
 public:
  WatchedRequest(UniqueInternet request, std::wstring pinnedHost, Clock::time_point deadline)
      : request_(std::move(request)), pinnedHost_(std::move(pinnedHost)), deadline_(deadline) {}
  ~WatchedRequest() {
    timer_.reset();  // waits for a running timer callback
  }
  WatchedRequest(const WatchedRequest&) = delete;
  WatchedRequest& operator=(const WatchedRequest&) = delete;

  // Installs the reports and the timer. False when either cannot be had:
  // the request must then not be sent, as nothing would check its pins
  // before its first byte.
  bool Arm() {
    DWORD_PTR self = context();
    if (!MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
            ::WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &self, sizeof(self)))) {
      return false;
    }
    constexpr DWORD kReports = WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER |
                               WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE;
    if (::WinHttpSetStatusCallback(request_.get(), &WatchedRequest::OnReport, kReports, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
      MIRAVELL_LOG_IF_WIN32_ERROR(::GetLastError());
      return false;
    }
    timer_.reset(MIRAVELL_LOG_LAST_ERROR_IF_NULL(::CreateThreadpoolTimer(&WatchedRequest::OnTimer, this, nullptr)));
    if (!timer_) return false;
    // Relative due time in 100 ns units; one more millisecond so that the
    // deadline has surely passed when it fires.
    ULARGE_INTEGER due{};
    due.QuadPart = static_cast<ULONGLONG>(-(static_cast<LONGLONG>(RemainingMs(deadline_)) + 1) * 10000);
    FILETIME dueTime{due.LowPart, due.HighPart};
    ::SetThreadpoolTimer(timer_.get(), &dueTime, 0, 0);
    return true;
  }

  // One blocking call on the handle, its timeouts cut to what is left
  // first. False without calling when the request was cancelled or its
  // time is up; false after it when the call failed (error holds its
  // GetLastError) or the request was cancelled during it.
  template <typename Call>
  bool Run(Call&& call, DWORD& error) {
    error = 0;
    HINTERNET handle = nullptr;
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (!request_ || expired_) return false;
      handle = request_.get();
    }
    // Nothing but a call in progress lets the timer close the handle, and
    // none is in progress here.
    if (!BoundTimeouts(handle, deadline_)) {
      std::lock_guard<std::mutex> guard(lock_);
      expired_ = true;
      return false;
    }
    const BOOL done = call(handle);
    if (!done) error = ::GetLastError();
    std::lock_guard<std::mutex> guard(lock_);
    inCall_ = false;
    return done && request_;
  }

  // The value the reports carry; WinHttpSendRequest is given it again, as
  // its context argument replaces the handle's.
  [[nodiscard]] DWORD_PTR context() const { return reinterpret_cast<DWORD_PTR>(this); }

  // The handle between calls; null once the request was cancelled.
  [[nodiscard]] HINTERNET handle() const {
    std::lock_guard<std::mutex> guard(lock_);
    return request_.get();
  }
  [[nodiscard]] PinVerdict verdict() const {
    std::lock_guard<std::mutex> guard(lock_);
    return verdict_;
  }
  [[nodiscard]] bool expired() const {
    std::lock_guard<std::mutex> guard(lock_);
    return expired_ || Clock::now() >= deadline_;
  }

 private:
  static void CALLBACK OnReport(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
    auto* self = reinterpret_cast<WatchedRequest*>(context);
    if (self == nullptr) return;
    UniqueInternet cancelled;  // closed after the lock is let go
    std::lock_guard<std::mutex> guard(self->lock_);
    if (!self->request_ || handle != self->request_.get()) return;
    self->inCall_ = true;
    if (status == WINHTTP_CALLBACK_STATUS_SENDING_REQUEST && !self->pinnedHost_.empty()) {
      self->verdict_ = CheckServerPins(handle, self->pinnedHost_);
      if (self->verdict_ != PinVerdict::Pass) {
        cancelled = std::move(self->request_);
        return;
      }
    }
    const DWORD share = status == WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER ? 2 : 1;
    if (self->expired_ || !BoundTimeouts(handle, self->deadline_, share)) {
      self->expired_ = true;
      cancelled = std::move(self->request_);
    }
  }

  static void CALLBACK OnTimer(PTP_CALLBACK_INSTANCE, PVOID context, PTP_TIMER) {
    auto* self = static_cast<WatchedRequest*>(context);
    UniqueInternet cancelled;
    std::lock_guard<std::mutex> guard(self->lock_);
    self->expired_ = true;
    if (self->inCall_) cancelled = std::move(self->request_);
  }

  mutable std::mutex lock_;
  UniqueInternet request_;
  const std::wstring pinnedHost_;  // empty: no pins to check before the first byte
  const Clock::time_point deadline_;
  bool inCall_ = false;  // a report came from the call under way
  bool expired_ = false;
  PinVerdict verdict_ = PinVerdict::Pass;
  UniqueThreadpoolTimer timer_;
};

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

// Fail, for the steps that say only whether the request goes on.
bool Ended(HttpResponse& response, std::string error) {
  Fail(response, std::move(error));
  return false;
}

}  // namespace

HttpClient::HttpClient(std::chrono::milliseconds deadline) : deadline_(deadline) {
  const std::wstring agent = config::Wide(config::Id::UserAgent);
  session_.reset(
      ::WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session_) throw std::runtime_error("WinHttpOpen failed");
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpSetTimeouts(session_.get(), static_cast<int>(kResolveTimeoutMs), static_cast<int>(kConnectTimeoutMs),
                           static_cast<int>(kSendTimeoutMs), static_cast<int>(kReceiveTimeoutMs)));
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(SetDword(session_.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, SecureProtocols()));
}

HttpClient::~HttpClient() {
  std::map<std::wstring, std::shared_future<void>> warming;
  {
    std::lock_guard<std::mutex> guard(lock_);
    warming = warming_;
  }
  for (const auto& [host, done] : warming) done.wait();
}

void HttpClient::SetDefaultHeader(const std::wstring& name, const std::wstring& value) {
  std::lock_guard<std::mutex> guard(lock_);
  defaultHeaders_[name] = value;
}

HttpResponse HttpClient::Get(const std::wstring& url) { return Request(L"GET", url, {}, {}); }

void HttpClient::Warm(const std::wstring& url) {
  const std::optional<HttpsTarget> target = HttpsTargetOf(url);
  if (!target) return;
  const std::wstring& host = target->host;
  const INTERNET_PORT port = target->port;
  std::lock_guard<std::mutex> guard(lock_);
  if (preflightedHosts_.count(host) != 0 || warming_.count(host) != 0) return;
  // The thread waits for this lock before it records anything.
  std::shared_future<void> warming = RunAhead([this, host, port] {
    HttpResponse ignored;
    RunPreflight(host, port, Clock::now() + deadline_, ignored, true);
  });
  // Without a thread the first request checks the host itself.
  if (warming.valid()) warming_[host] = std::move(warming);
}

bool HttpClient::Preflight(const std::wstring& host, INTERNET_PORT port, Clock::time_point deadline,
                           HttpResponse& response) {
  std::shared_future<void> warming;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (preflightedHosts_.count(host) != 0) return true;
    if (const auto found = warming_.find(host); found != warming_.end()) warming = found->second;
  }
  if (warming.valid()) {
    if (warming.wait_until(deadline) != std::future_status::ready) {
      response.error = kDeadlineError;
      return false;
    }
    // The pins may have been extended since the warm-up: it counts only for
    // the pins the host has now.
    const std::vector<std::string> pins = CurrentPins(host);
    std::lock_guard<std::mutex> guard(lock_);
    if (const auto passed = warmedPins_.find(host); passed != warmedPins_.end() && passed->second == pins) {
      preflightedHosts_.insert(host);
      return true;
    }
  }
  return RunPreflight(host, port, deadline, response, false);
}

bool HttpClient::RunPreflight(const std::wstring& host, INTERNET_PORT port, Clock::time_point deadline,
                              HttpResponse& response, bool quiet) {
  // A warm-up counts only for the pins it was held against.
  const std::vector<std::string> pins = quiet ? CurrentPins(host) : std::vector<std::string>();
  const std::string pinFailure =
      "Pre-flight SSL Pin validation FAILED for " + WideToUtf8(host) + ". MITM Attack Prevented!";
  // Without a connection or a request the check is skipped; the request
  // itself then meets the pins.
  if (UniqueInternet connection{
          MIRAVELL_LOG_LAST_ERROR_IF_NULL(::WinHttpConnect(session_.get(), host.c_str(), port, 0))}) {
    if (UniqueInternet opened{MIRAVELL_LOG_LAST_ERROR_IF_NULL(
            ::WinHttpOpenRequest(connection.get(), L"HEAD", L"/", nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE))}) {
      const bool pinned = IsPinnedHost(host);
      SetRequestOptions(opened.get(), pinned, false);
      WatchedRequest request(std::move(opened), pinned ? host : std::wstring(), deadline);
      if (!request.Arm()) {
        response.error = pinned ? pinFailure : ErrorWithNumber("WinHttpSendRequest failed: ", ::GetLastError());
        return false;
      }
      DWORD error = 0;
      // A failed send or receive leaves no certificate, which the pins
      // refuse below.
      if (request.Run(
              [&request](HINTERNET handle) {
                return ::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                                            request.context());
              },
              error)) {
        request.Run([](HINTERNET handle) { return ::WinHttpReceiveResponse(handle, nullptr); }, error);
      }
      const PinVerdict before = request.verdict();
      if (before == PinVerdict::Mismatch && !quiet) ActOnPinMismatch(host);
      if (before != PinVerdict::Pass) {
        response.error = pinFailure;
        return false;
      }
      const HINTERNET handle = request.handle();
      if (handle == nullptr || request.expired()) {
        response.error = kDeadlineError;
        return false;
      }
      if (quiet ? CheckServerPins(handle, host) != PinVerdict::Pass : !ValidateServerPins(handle, host)) {
        response.error = pinFailure;
        return false;
      }
      // WinHTTP keeps a connection for the next request only once a read
      // has met the end of its answer, even the empty one of a HEAD.
      char sink[64];
      DWORD read = 0;
      request.Run([&](HINTERNET drained) { return ::WinHttpReadData(drained, sink, sizeof(sink), &read); }, error);
    }
  }
  std::lock_guard<std::mutex> guard(lock_);
  if (quiet) {
    warmedPins_[host] = pins;
  } else {
    preflightedHosts_.insert(host);
  }
  return true;
}

namespace {

// Why a watched request ended before its answer was taken, if it did: the
// pins (with the interception alert for the operator's domain) or the
// deadline.
std::optional<std::string> EndedEarly(const WatchedRequest& request, const std::wstring& host) {
  const PinVerdict verdict = request.verdict();
  if (verdict == PinVerdict::Mismatch) ActOnPinMismatch(host);
  if (verdict != PinVerdict::Pass) return "SSL Pin validation FAILED for " + WideToUtf8(host);
  if (request.handle() == nullptr || request.expired()) return std::string(kDeadlineError);
  return std::nullopt;
}

// Sends the request and its body, then waits for the answer's headers.
// False once the response holds why it ended.
bool SendAndReceive(WatchedRequest& request, const std::wstring& host, bool pinned, const std::string& body,
                    Clock::time_point deadline, HttpResponse& response) {
  // The body follows the headers only once the connection they went out on
  // has shown its certificate: a stack that writes the headers although the
  // request was cancelled before them still never writes the body (a link
  // token) to a key the pins refuse.
  const auto length = static_cast<DWORD>(body.size());
  DWORD error = 0;
  const bool sent = request.Run(
      [&request, length](HINTERNET handle) {
        return ::WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, length,
                                    request.context());
      },
      error);
  if (auto early = EndedEarly(request, host)) return Ended(response, std::move(*early));
  if (!sent) return Ended(response, CallFailure("WinHttpSendRequest failed: ", error, deadline));
  if (length > 0 && pinned) {
    // Where the stack did not report the moment before the headers went
    // out, the body still waits for the pins.
    const PinVerdict verdict = CheckServerPins(request.handle(), host);
    if (verdict == PinVerdict::Mismatch) ActOnPinMismatch(host);
    if (verdict != PinVerdict::Pass) return Ended(response, "SSL Pin validation FAILED for " + WideToUtf8(host));
  }
  for (DWORD written = 0; written < length;) {
    DWORD wrote = 0;
    const bool ok = request.Run(
        [&](HINTERNET handle) { return ::WinHttpWriteData(handle, body.data() + written, length - written, &wrote); },
        error);
    if (auto early = EndedEarly(request, host)) return Ended(response, std::move(*early));
    if (!ok || wrote == 0) return Ended(response, CallFailure("WinHttpSendRequest failed: ", error, deadline));
    written += wrote;
  }
  const bool received = request.Run([](HINTERNET handle) { return ::WinHttpReceiveResponse(handle, nullptr); }, error);
  if (auto early = EndedEarly(request, host)) return Ended(response, std::move(*early));
  if (!received) return Ended(response, CallFailure("WinHttpReceiveResponse failed: ", error, deadline));
  return true;
}

// Reads the status and the whole body into the response. A read that fails
// leaves a cut-off body; it is a failure, not an answer.
bool ReadAnswer(WatchedRequest& request, const std::wstring& host, Clock::time_point deadline, HttpResponse& response) {
  DWORD status = 0;
  DWORD statusSize = sizeof(status);
  MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
      ::WinHttpQueryHeaders(request.handle(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX));
  response.statusCode = status;

  DWORD error = 0;
  for (;;) {
    DWORD available = 0;
    const bool queried =
        request.Run([&](HINTERNET handle) { return ::WinHttpQueryDataAvailable(handle, &available); }, error);
    if (auto early = EndedEarly(request, host)) return Ended(response, std::move(*early));
    if (!queried) return Ended(response, CallFailure("WinHttpQueryDataAvailable failed: ", error, deadline));
    if (available == 0) break;
    if (available > kMaxResponseBodyBytes - response.body.size()) return Ended(response, kBodyTooLargeError);
    std::vector<char> chunk(static_cast<std::size_t>(available) + 1, '\0');
    DWORD read = 0;
    const bool readOk =
        request.Run([&](HINTERNET handle) { return ::WinHttpReadData(handle, chunk.data(), available, &read); }, error);
    if (auto early = EndedEarly(request, host)) return Ended(response, std::move(*early));
    if (!readOk) return Ended(response, CallFailure("WinHttpReadData failed: ", error, deadline));
    if (read == 0) break;
    response.body.append(chunk.data(), read);
  }
  response.success = response.statusCode >= 200 && response.statusCode <= 299;
  return true;
}

}  // namespace

std::map<std::wstring, std::wstring> HttpClient::HeadersFor(const std::wstring& host, bool https) {
  // The default headers hold the pin download's secret and the device's
  // identity: only the service gets them, and only over TLS. A host a link
  // or an answer named gets nothing but the request itself.
  std::map<std::wstring, std::wstring> headers;
  if (!https || !IsServiceHost(host)) return headers;
  {
    std::lock_guard<std::mutex> guard(lock_);
    headers = defaultHeaders_;
  }
  const DeviceIdentity& identity = GetDeviceIdentity();
  if (!identity.machineKey.empty()) headers[config::Wide(config::Id::DeviceHeader1)] = identity.machineKey;
  if (!identity.machineModel.empty()) headers[config::Wide(config::Id::DeviceHeader2)] = identity.machineModel;
  return headers;
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
    return Fail(response, "Failed to parse URL");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  const bool https = parts.nScheme == INTERNET_SCHEME_HTTPS;

  if (https && !Preflight(host, parts.nPort, deadline, response)) return response;

  UniqueInternet connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return Fail(response, "WinHttpConnect failed");
  UniqueInternet opened(::WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             https ? WINHTTP_FLAG_SECURE : 0));
  if (!opened) return Fail(response, "WinHttpOpenRequest failed");
  const bool pinned = https && IsPinnedHost(host);
  SetRequestOptions(opened.get(), pinned, true);
  for (const auto& [name, value] : HeadersFor(host, https)) AddHeader(opened.get(), name + L": " + value);
  if (!contentType.empty()) AddHeader(opened.get(), L"Content-Type: " + contentType);

  WatchedRequest request(std::move(opened), pinned ? host : std::wstring(), deadline);
  if (!request.Arm()) return Fail(response, ErrorWithNumber("WinHttpSendRequest failed: ", ::GetLastError()));
  if (!SendAndReceive(request, host, pinned, body, deadline, response)) return response;
  if (https && !ValidateServerPins(request.handle(), host)) {
    return Fail(response, "SSL Pin validation FAILED for " + WideToUtf8(host));
  }
  ReadAnswer(request, host, deadline, response);
  return response;
}

HttpClient& SharedHttpClient() {
  static std::once_flag once;
  // Never destroyed: warm-ups may still run on their threads while the
  // process ends.
  static HttpClient* shared = nullptr;
  std::call_once(once, [] {
    auto client = std::make_unique<HttpClient>();
    WINHTTP_PROXY_INFO noProxy{WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr};
    MIRAVELL_LOG_IF_WIN32_BOOL_FALSE(
        ::WinHttpSetOption(client->session(), WINHTTP_OPTION_PROXY, &noProxy, sizeof(noProxy)));
    shared = client.release();
  });
  return *shared;
}
