#include "links/LinkResolution.h"

#include <exception>

#include "common/AppState.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Text.h"
#include "links/ContentUrl.h"
#include "links/SchemeLink.h"
#include "net/HttpClient.h"
#include "net/Pinning.h"
#include "net/ServiceApi.h"
#include "net/ServiceHosts.h"

namespace {

constexpr wchar_t kDirectType[] = L"url_direct";
constexpr char kServerPrefix[] = "server:";
constexpr char kNoContentData[] = "api_content_data_failed";

// Steps after the link decoded to its three values.
bool Resolve(const LinkValues& values, std::string& reason) {
  // Anyone can make a link (the key ships with every copy), and the domain
  // receives the link token, the device headers and the update question.
  const std::wstring domain = Utf8ToWide(values.domain);
  if (!IsServiceAddress(domain)) {
    reason = kReasonDomainNotAllowed;
    return false;
  }
  const std::wstring contentLinkId = Utf8ToWide(values.contentLinkId);
  const bool direct = contentLinkId.starts_with(L"http://") || contentLinkId.starts_with(L"https://");
  // A direct address is opened without the service ever seeing the link, so
  // it may only name a place the player trusts already; the service can still
  // send a student anywhere through its own answer.
  if (direct && !IsAllowedDirectContent(contentLinkId)) {
    reason = kReasonContentNotAllowed;
    return false;
  }
  AppState& app = GetAppState();
  app.domain = domain;

  if (direct) {
    app.contentUrl = contentLinkId;
    app.contentType = kDirectType;
    app.watermarkText.clear();
    app.contentNumber = 0;
    app.contentFromService = false;
    WarmBrowserHost(app.contentUrl);
    return true;
  }

  std::string error;
  const auto data = GetContentData(app.domain, values.contentLinkId, values.linkToken, error);
  if (!data) {
    reason = error.empty() ? std::string(kNoContentData) : kServerPrefix + error;
    return false;
  }

  const std::wstring url = Utf8ToWide(data->url);
  if (data->type == "video" || data->type == "zoom" || data->type == "zoom_url" || IsMeetingUrl(url)) {
    app.contentType = kDirectType;
  } else {
    app.contentType = Utf8ToWide(data->type);
  }
  app.watermarkText = Utf8ToWide(data->watermarkText);
  app.contentNumber = data->contentNumber;
  app.contentFromService = true;

  const std::wstring videoUrl = Utf8ToWide(data->videoUrl);
  if (IsVideoPlatformUrl(videoUrl)) {
    app.contentUrl = MakeVideoEmbedUrl(videoUrl);
    app.contentType = kDirectType;
    app.injectedScript = FetchInjectedScript(app.contentNumber);
  } else {
    app.contentUrl = url;
  }
  // The engine checks the lesson's host before its first request there;
  // that check runs now, beside the window's creation.
  WarmBrowserHost(app.contentUrl);
  return true;
}

}  // namespace

std::wstring FetchInjectedScript(std::int32_t contentNumber) {
  try {
    HttpClient client;  // a client of its own, closed right after
    const HttpResponse response = client.Get(config::Wide(config::Id::ScriptUrl) + std::to_wstring(contentNumber));
    if (response.success) return Utf8ToWide(response.body);
  }
  // A lesson without its script still plays.
  MIRAVELL_CATCH_LOG()
  return {};
}

bool ParseSchemeArgs(const std::wstring& link, std::string& reason) {
  LinkValues values;
  // Decoding sets the reason to "unknown_error" first and wipes the key on
  // every path, failures included.
  if (!DecodeSchemeLink(link, values, reason)) return false;
  try {
    if (!Resolve(values, reason)) return false;
    return true;
  } catch (const std::exception& e) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    reason = std::string("exception_") + e.what();
  } catch (...) {
    MIRAVELL_LOG_CAUGHT_EXCEPTION();
    reason = "unknown_exception";
  }
  return false;
}
