#pragma once
// The blocking HTTP(S) client of all service traffic, on WinHTTP. Transport
// failures come back as values (an error text in the response), never as
// exceptions; the pins of pinned hosts are checked before the first request
// to a host and after every response.
#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "common/Handles.h"
#include "net/ServiceHosts.h"

struct HttpResponse {
  std::uint32_t statusCode = 0;  // 0 when the request failed before a status was read
  std::string body;              // raw bytes as received
  bool success = false;          // 200 <= statusCode <= 299
  std::string error;             // empty, or what failed
};

class HttpClient {
 public:
  // Opens the session (no proxy, synchronous, the program's timeouts).
  // Throws std::runtime_error("WinHttpOpen failed") when it cannot.
  HttpClient();
  ~HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sent with every later request of this client to a service host over
  // HTTPS (never to another host); replaces a header of the same name.
  void SetDefaultHeader(const std::wstring& name, const std::wstring& value);

  // One complete exchange. An empty body sends no data; an empty content
  // type sends no Content-Type header. Redirects are never followed.
  HttpResponse Request(const std::wstring& method, const std::wstring& url, const std::string& body,
                       const std::wstring& contentType);

  HttpResponse Get(const std::wstring& url);

  // The session handle (for options of the shared client).
  [[nodiscard]] HINTERNET session() const noexcept { return session_.get(); }

 private:
  // Runs the pre-flight for an HTTPS host not checked before; false when
  // its pins failed (the error is then set in the response).
  bool Preflight(const std::wstring& host, INTERNET_PORT port, HttpResponse& response);

  UniqueInternet session_;
  std::map<std::wstring, std::wstring> defaultHeaders_;
  std::mutex lock_;
  std::set<std::wstring> preflightedHosts_;
};

// The one process-wide client, created on first use (thread-safe) and never
// closed. Throws what the constructor throws.
HttpClient& SharedHttpClient();

// Sets the per-request options the program uses: option 98, no redirects,
// and, for a pinned host only, the certificate-error tolerance under which
// its pins decide alone.
void SetRequestOptions(HINTERNET request, bool pinnedHost, bool redirectPolicy);
