#pragma once
// The blocking HTTP(S) client of all service traffic, on WinHTTP. Transport
// failures come back as values (an error text in the response), never as
// exceptions. The pins of a pinned host are checked on every connection a
// request goes out on, before its first byte is written, and again after
// every response; a pre-flight HEAD still goes first to each new host.
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/Handles.h"
#include "net/ServiceHosts.h"

// The largest body a request takes in. The service's answers and scripts are
// a few kilobytes; past this the answer is refused rather than grown until
// memory runs out.
inline constexpr std::size_t kMaxResponseBodyBytes = 4 * 1024 * 1024;

// The longest one whole request may take, pre-flight and body included. The
// per-step timeouts (10 s resolve, 10 s connect, 30 s send, 30 s per receive)
// bound each wait but not their sum within one call, nor a server that keeps
// sending a byte at a time, and the start-up asks on the user-interface
// thread.
inline constexpr std::chrono::milliseconds kRequestDeadline{60000};

// Error texts of the two bounds.
inline constexpr char kBodyTooLargeError[] = "Response body too large";
inline constexpr char kDeadlineError[] = "Request deadline exceeded";

struct HttpResponse {
  std::uint32_t statusCode = 0;  // 0 when the request failed before a status was read
  std::string body;              // raw bytes as received
  bool success = false;          // 200 <= statusCode <= 299
  std::string error;             // empty, or what failed
};

class HttpClient {
 public:
  // Opens the session (no proxy, synchronous, the program's timeouts); each
  // request of this client ends within the deadline. Throws
  // std::runtime_error("WinHttpOpen failed") when it cannot.
  explicit HttpClient(std::chrono::milliseconds deadline = kRequestDeadline);
  // Waits for the warm-ups still under way.
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sent with every later request of this client to a service host over
  // HTTPS (never to another host); replaces a header of the same name.
  void SetDefaultHeader(const std::wstring& name, const std::wstring& value);

  // One complete exchange. An empty body sends no data; an empty content
  // type sends no Content-Type header. Redirects are never followed. A body
  // over kMaxResponseBodyBytes, a failing read or the deadline passing ends
  // it as a transport failure (status 0, empty body).
  HttpResponse Request(const std::wstring& method, const std::wstring& url, const std::string& body,
                       const std::wstring& contentType);

  HttpResponse Get(const std::wstring& url);

  // Opens and checks the connection to the HTTPS host of url ahead of need,
  // on a worker thread: the pre-flight the first request to that host would
  // run (connection, handshake, pins, HEAD), which leaves its connection in
  // the session's pool. A request to the host waits for a warm-up under way
  // and goes out on that connection. A warm-up acts on nothing: after a
  // failure, or when the host's pins changed since, the request runs its own
  // pre-flight exactly as without it. The caller names only hosts it would
  // send to anyway.
  void Warm(const std::wstring& url);

  // The session handle (for options of the shared client).
  [[nodiscard]] HINTERNET session() const noexcept { return session_.get(); }

 private:
  // The headers a request to host carries: the defaults and the device's
  // identity for the service over TLS, none for anyone else.
  std::map<std::wstring, std::wstring> HeadersFor(const std::wstring& host, bool https);
  // Runs the pre-flight for an HTTPS host not checked before, within the
  // request's deadline; false when its pins failed or no time was left (the
  // error is then set in the response).
  bool Preflight(const std::wstring& host, INTERNET_PORT port, std::chrono::steady_clock::time_point deadline,
                 HttpResponse& response);
  // The pre-flight itself. A quiet one (a warm-up) neither raises the
  // interception alert nor marks the host as checked: it records the pins
  // it passed with.
  bool RunPreflight(const std::wstring& host, INTERNET_PORT port, std::chrono::steady_clock::time_point deadline,
                    HttpResponse& response, bool quiet);

  std::chrono::milliseconds deadline_;
  UniqueInternet session_;
  std::map<std::wstring, std::wstring> defaultHeaders_;
  std::mutex lock_;
  std::set<std::wstring> preflightedHosts_;
  std::map<std::wstring, std::shared_future<void>> warming_;     // by host, done or not
  std::map<std::wstring, std::vector<std::string>> warmedPins_;  // host -> the pins a warm-up passed with
};

// The one process-wide client, created on first use (thread-safe) and never
// closed. Throws what the constructor throws.
HttpClient& SharedHttpClient();
