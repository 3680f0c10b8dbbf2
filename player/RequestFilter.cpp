#include "player/RequestFilter.h"

#include <wrl/client.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "alerts/AlertWindow.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Handles.h"
#include "common/Seams.h"
#include "common/Text.h"
#include "identity/DeviceIdentity.h"
#include "net/Pinning.h"
#include "player/NavigationPolicy.h"

using Microsoft::WRL::ComPtr;

namespace {

// After the browser's first pin failure: waits 500 ms, then ends the program
// with the interception alert.
[[noreturn]] void ReportBrowserPinFailure(const std::wstring& host) {
  seams::SleepFor(std::chrono::milliseconds(500));
  ShowBrowserInterceptionAlert(host);
}

// On a detached thread, so that the browser's event returns at once; only the
// first failure of the process starts one.
void StartBrowserPinFailureReport(const std::wstring& host) {
  static std::atomic<bool> started{false};
  if (started.exchange(true)) return;
  AnnounceAlert();
  std::thread(ReportBrowserPinFailure, host).detach();
}

void SetIdentity(ICoreWebView2HttpRequestHeaders* headers, config::Id keyHeader, config::Id modelHeader) {
  const DeviceIdentity& identity = GetDeviceIdentity();
  if (!identity.machineKey.empty()) {
    MIRAVELL_LOG_IF_FAILED(headers->SetHeader(config::Wide(keyHeader).c_str(), identity.machineKey.c_str()));
  }
  if (!identity.machineModel.empty()) {
    MIRAVELL_LOG_IF_FAILED(headers->SetHeader(config::Wide(modelHeader).c_str(), identity.machineModel.c_str()));
  }
}

bool OnAnyDomain(const std::wstring& host, const std::vector<std::wstring>& domains) {
  for (const auto& domain : domains) {
    if (IsHostOrSubdomain(host, domain)) return true;
  }
  return false;
}

// The media rules' texts, as the service's players name their streams.
bool MediaPath(const std::wstring& lowerUri) {
  return lowerUri.ends_with(config::Wide(config::Id::MediaVideoSuffix)) ||
         lowerUri.ends_with(config::Wide(config::Id::MediaManifestSuffix)) ||
         lowerUri.find(config::Wide(config::Id::MediaHlsPathPart)) != std::wstring::npos ||
         (lowerUri.size() >= 20 && lowerUri.ends_with(config::Wide(config::Id::MediaDashPlaylistSuffix)));
}

}  // namespace

IdentityRules IdentityRulesFor(const std::wstring& lowerUri) {
  // The identity is a device secret: only the host decides who gets it, never
  // text elsewhere in the address ("https://evil.example/hls/?miravell.com"),
  // and never over plain HTTP, where anyone on the path reads it.
  if (!lowerUri.starts_with(L"https://")) return {};
  const std::wstring host = ExtractHost(lowerUri);
  if (host.empty()) return {};
  IdentityRules rules;
  rules.serviceSite = OnAnyDomain(host, config::WideList(config::Id::IdentityRuleHosts));
  rules.media = OnAnyDomain(host, AllowedHosts()) && MediaPath(lowerUri);
  return rules;
}

ResourceRequest RequestOf(ICoreWebView2WebResourceRequestedEventArgs* args) {
  ResourceRequest found;
  if (args == nullptr || FAILED(MIRAVELL_LOG_IF_FAILED(args->get_Request(&found.request))) || !found.request ||
      FAILED(MIRAVELL_LOG_IF_FAILED(found.request->get_Headers(&found.headers))) || !found.headers) {
    return {};
  }
  return found;
}

std::wstring PinCheckServerName(const std::wstring& lowerCaseUri) {
  if (lowerCaseUri.size() < 8 || lowerCaseUri.compare(0, 8, L"https://") != 0) return {};
  std::wstring authority = lowerCaseUri.substr(8, lowerCaseUri.find_first_of(L"/?#\\", 8) - 8);
  // "https://pinned.example@other.example/" is a request to other.example:
  // the pins of the host actually contacted are the ones to check.
  if (const std::size_t at = authority.rfind(L'@'); at != std::wstring::npos) authority.erase(0, at + 1);
  // An IPv6 literal keeps its brackets and colons, as the address bar shows
  // it; without its closing bracket it is no host.
  if (!authority.empty() && authority.front() == L'[') {
    const std::size_t close = authority.find(L']');
    return close == std::wstring::npos ? std::wstring() : authority.substr(0, close + 1);
  }
  return std::wstring(WithoutTrailingDot(authority.substr(0, authority.find(L':'))));
}

void HandleResourceRequest(ICoreWebView2Environment* environment, const OwnerRequestStep& ownerStep,
                           ICoreWebView2WebResourceRequestedEventArgs* args) {
  const auto [request, headers] = RequestOf(args);
  if (!headers) return;

  MIRAVELL_LOG_IF_FAILED(headers->SetHeader(config::Wide(config::Id::TagHeaderName).c_str(),
                                            config::Wide(config::Id::TagHeaderValue).c_str()));

  LPWSTR raw = nullptr;
  if (FAILED(MIRAVELL_LOG_IF_FAILED(request->get_Uri(&raw))) || raw == nullptr) return;
  UniqueCoTaskMem<wchar_t> owned(raw);
  const std::wstring uri = raw;
  const std::wstring lower = ToLowerWide(uri);

  const std::wstring server = PinCheckServerName(lower);
  const BrowserHostCheck check = server.empty() ? BrowserHostCheck::Passed : CheckHostForBrowser(server);
  if (check != BrowserHostCheck::Passed) {
    // A host that could not be reached answers as a gateway would, so the
    // page says the server could not be reached and offers to try again.
    const bool unreachable = check == BrowserHostCheck::Unreachable;
    if (environment != nullptr) {
      ComPtr<ICoreWebView2WebResourceResponse> blocked;
      if (SUCCEEDED(MIRAVELL_LOG_IF_FAILED(environment->CreateWebResourceResponse(
              nullptr, unreachable ? 503 : 403, unreachable ? L"Unreachable" : L"Blocked", L"Content-Type: text/plain",
              &blocked))) &&
          blocked) {
        MIRAVELL_LOG_IF_FAILED(args->put_Response(blocked.Get()));
      }
    }
    // The event must return at once; the alert ends the program from its own thread.
    if (!unreachable) StartBrowserPinFailureReport(server);
    return;
  }

  const IdentityRules identity = IdentityRulesFor(lower);
  if (identity.serviceSite) SetIdentity(headers.Get(), config::Id::ServiceKeyHeader, config::Id::ServiceModelHeader);
  if (identity.media) SetIdentity(headers.Get(), config::Id::MediaKeyHeader, config::Id::MediaModelHeader);

  if (ownerStep) ownerStep(uri, args);
}
