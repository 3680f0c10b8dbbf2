#pragma once
// The service's calls: the version check, the resolution of a link into its
// content, and the server list. All go through the shared client (pinned,
// no proxy, its default headers) and never throw.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/HttpClient.h"

struct VersionInfo {
  bool hasUpdate = false;
  bool isRequired = false;  // only ever true together with hasUpdate
  std::wstring link;        // the download address the service gave, or empty
};

// What a link stands for, as the service answers it.
struct ContentData {
  std::string type = "video";
  std::string url;
  std::string videoUrl;
  std::string watermarkText;
  std::int32_t contentNumber = 1;
};

// Asks the service for its version: base + the version path, or the fixed
// version address when base is empty.
VersionInfo CheckForUpdate(double currentVersion, const std::wstring& base);

// Resolves a link; on nothing, error may hold the service's message or the
// engine's error text.
std::optional<ContentData> GetContentData(const std::wstring& domain, const std::string& contentLinkId,
                                          const std::string& linkToken, std::string& error);

// The service's server list for the environment checks.
std::vector<std::string> FetchServerList(const std::wstring& domain);

// The answers read apart from the transport, so malformed answers can be
// tried in bulk. They follow the calls' rules exactly.
VersionInfo ReadVersionAnswer(const HttpResponse& response, double currentVersion);
std::optional<ContentData> ReadContentAnswer(const HttpResponse& response, std::string& error);
std::vector<std::string> ReadServerListAnswer(const HttpResponse& response);

// The content request's form body, each value encoded as
// application/x-www-form-urlencoded requires.
std::string ContentFormBody(const std::string& linkToken, const std::string& contentLinkId);

// application/x-www-form-urlencoded encoding of one value.
std::string FormEncode(const std::string& value);
