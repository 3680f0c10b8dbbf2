#include "app/ServiceStages.h"

#include <windows.h>

#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Text.h"
#include "links/SchemeLink.h"
#include "net/HttpClient.h"
#include "net/PinDownload.h"
#include "net/Pinning.h"
#include "net/ServiceHosts.h"

void InstallBuiltInPins() { SetPinTable(BuildDefaultPins()); }

void LoadDynamicPinsStage() { LoadDynamicPins(); }

void WarmServiceConnections(const std::wstring& link) {
  try {
    HttpClient& client = SharedHttpClient();
    client.Warm(config::Wide(config::Id::PinUrl));
    client.Warm(config::Wide(config::Id::VersionUrl));
    if (link.empty()) return;
    // Decoding needs no network; a domain the link would be refused for is
    // never contacted.
    LinkValues values;
    std::string reason;
    if (!DecodeSchemeLink(link, values, reason)) return;
    ::SecureZeroMemory(values.linkToken.data(), values.linkToken.size());
    const std::wstring domain = Utf8ToWide(values.domain);
    if (IsServiceAddress(domain)) client.Warm(domain);
  }
  // The requests open their own connections.
  MIRAVELL_CATCH_LOG()
}
