#pragma once
// The filter every request of either browser passes: tags it, stops an HTTPS
// request to a host whose pins fail, adds the device identity where the
// service expects it, then hands it to the owner.
#include <wrl/client.h>

#include <functional>
#include <string>

#include "runtime/WebView2Interfaces.h"

// The host of an https:// request the pin check is run for: the text after
// "https://" up to the path, query, fragment or port, without user info
// (an IPv6 literal with its brackets). Empty for anything but https.
std::wstring PinCheckServerName(const std::wstring& lowerCaseUri);

// Which of the device identity's two header pairs a request carries: the
// service-site pair for https:// requests to the service's hosts (or their
// subdomains), the media pair for https:// stream requests to hosts of the
// allow-list.
struct IdentityRules {
  bool serviceSite = false;
  bool media = false;
};
IdentityRules IdentityRulesFor(const std::wstring& lowerUri);

// The request of a resource event and its headers: both set, or both null.
struct ResourceRequest {
  Microsoft::WRL::ComPtr<ICoreWebView2WebResourceRequest> request;
  Microsoft::WRL::ComPtr<ICoreWebView2HttpRequestHeaders> headers;
};
ResourceRequest RequestOf(ICoreWebView2WebResourceRequestedEventArgs* args);

// The filter itself (the WebResourceRequested handler of both browsers):
// environment makes the answer to a stopped request, and the owner's step
// (when set) comes last.
using OwnerRequestStep = std::function<void(const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs* args)>;
void HandleResourceRequest(ICoreWebView2Environment* environment, const OwnerRequestStep& ownerStep,
                           ICoreWebView2WebResourceRequestedEventArgs* args);
