#include "net/PinDownload.h"

#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Json.h"
#include "common/Secret.h"
#include "common/Text.h"
#include "net/HttpClient.h"

namespace {

constexpr char kPinPrefix[] = "sha256/";

}  // namespace

std::optional<std::vector<PinEntry>> PinTableFromDownload(const std::string& body) {
  const auto parsed = TryParseJson(body);
  if (!parsed || !parsed->is_array()) return std::nullopt;
  std::vector<PinEntry> result = BuildDefaultPins();
  for (const auto& element : *parsed) {
    if (!element.is_object() || !element.contains("scope") || !element.contains("pins")) continue;
    const std::string scope = element["scope"].get<std::string>();  // a non-string scope ends the load
    PinEntry entry;
    entry.host = Utf8ToWide(scope);
    const auto& pins = element["pins"];
    if (pins.is_array()) {
      for (const auto& item : pins) {
        if (!item.is_string()) continue;
        std::string pin = item.get<std::string>();
        if (pin.size() > 7 && pin.compare(0, 7, kPinPrefix) == 0) pin.erase(0, 7);
        entry.pins.push_back(std::move(pin));
      }
    }
    if (!entry.pins.empty()) result.push_back(std::move(entry));
  }
  return result;
}

void LoadDynamicPins() {
  try {
    HttpClient& client = SharedHttpClient();
    {
      SecretText secret(config::Text(config::Id::PinSecret));
      client.SetDefaultHeader(L"X-Secret", Utf8ToWide(secret.str()));
    }
    const HttpResponse response = client.Get(config::Wide(config::Id::PinUrl));
    if (!response.success) return;
    if (auto loaded = PinTableFromDownload(response.body)) SetPinTable(std::move(*loaded));
  }
  // The built-in pins stay in force.
  MIRAVELL_CATCH_LOG()
}
