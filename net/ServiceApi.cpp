#include "net/ServiceApi.h"

#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "identity/DeviceIdentity.h"
#include "common/Config.h"
#include "common/FailureLog.h"
#include "common/Json.h"
#include "common/Text.h"

namespace {

constexpr wchar_t kFormContentType[] = L"application/x-www-form-urlencoded";

// "version" as a number: JSON numbers as they are, texts as the standard
// string-to-double conversion reads them (the longest valid prefix), and
// anything unreadable as 0.
double VersionNumber(const nlohmann::json& value) {
  if (value.is_number()) return value.get<double>();
  if (value.is_string()) {
    try {
      return std::stod(value.get<std::string>());
    } catch (const std::invalid_argument&) {
      return 0;
    } catch (const std::out_of_range&) {
      return 0;
    }
  }
  return 0;
}

// "is_required": a number that truncates to 1, or the text "1". A JSON true
// is not recognised.
bool RequiredFlag(const nlohmann::json& answer) {
  if (!answer.contains("is_required")) return false;
  const auto& value = answer["is_required"];
  if (value.is_number_integer()) {
    return value.is_number_unsigned() ? value.get<std::uint64_t>() == 1 : value.get<std::int64_t>() == 1;
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    return std::isfinite(number) && std::trunc(number) == 1.0;
  }
  if (value.is_string()) return value.get<std::string>() == "1";
  return false;
}

// A 32-bit integer field; a number outside the range is refused like a
// wrong type rather than wrapped.
std::int32_t Int32Field(const nlohmann::json& value) {
  if (value.is_number_float()) {
    const double number = std::trunc(value.get<double>());
    if (!std::isfinite(number) || number < INT32_MIN || number > INT32_MAX)
      throw std::out_of_range("number out of range");
    return static_cast<std::int32_t>(number);
  }
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > static_cast<std::uint64_t>(INT32_MAX)) throw std::out_of_range("number out of range");
    return static_cast<std::int32_t>(number);
  }
  if (value.is_number_integer()) {
    const auto number = value.get<std::int64_t>();
    if (number < INT32_MIN || number > INT32_MAX) throw std::out_of_range("number out of range");
    return static_cast<std::int32_t>(number);
  }
  return value.get<std::int32_t>();  // any other type raises the library's type error
}

// Reads one field: absent or null keeps the default, another type throws.
template <typename Read>
void ReadField(const nlohmann::json& object, const std::string& key, Read read) {
  if (!object.is_object() || !object.contains(key)) return;
  const auto& value = object[key];
  if (value.is_null()) return;
  read(value);
}

}  // namespace

std::string FormEncode(const std::string& value) {
  std::string out;
  for (const char c : value) {
    const auto octet = static_cast<unsigned char>(c);
    if ((octet >= 'A' && octet <= 'Z') || (octet >= 'a' && octet <= 'z') || (octet >= '0' && octet <= '9') ||
        octet == '*' || octet == '-' || octet == '.' || octet == '_') {
      out.push_back(c);
    } else if (octet == ' ') {
      out.push_back('+');
    } else {
      out.push_back('%');
      AppendHexByte(out, octet, HexCase::Upper);
    }
  }
  return out;
}

std::string ContentFormBody(const std::string& linkToken, const std::string& contentLinkId) {
  // Encoded, so an "&", "=" or "+" inside a value cannot change the fields.
  return config::Text(config::Id::FormTokenPrefix) + FormEncode(linkToken) + config::Text(config::Id::FormIdPrefix) +
         FormEncode(contentLinkId);
}

VersionInfo ReadVersionAnswer(const HttpResponse& response, double currentVersion) {
  VersionInfo info;
  if (!response.success) return info;
  const auto answer = TryParseJson(response.body);
  if (!answer || !answer->is_object() || !answer->contains("version")) return info;
  const double version = VersionNumber((*answer)["version"]);
  if (!(version > currentVersion)) return info;
  info.hasUpdate = true;
  info.isRequired = RequiredFlag(*answer);
  if (answer->contains("link") && (*answer)["link"].is_string())
    info.link = Utf8ToWide((*answer)["link"].get<std::string>());
  return info;
}

VersionInfo CheckForUpdate(double currentVersion, const std::wstring& base) {
  try {
    const std::wstring address =
        base.empty() ? config::Wide(config::Id::VersionUrl) : base + config::Wide(config::Id::VersionPath);
    return ReadVersionAnswer(SharedHttpClient().Get(address), currentVersion);
  }
  MIRAVELL_CATCH_RETURN({})
}

std::optional<ContentData> ReadContentAnswer(const HttpResponse& response, std::string& error) {
  if (response.success) {
    const auto answer = TryParseJson(response.body);
    if (!answer) return std::nullopt;
    const std::string envelopeKey = config::Text(config::Id::EnvelopeKey);
    const nlohmann::json& record =
        answer->is_object() && answer->contains(envelopeKey) && (*answer)[envelopeKey].is_object()
            ? (*answer)[envelopeKey]
            : *answer;
    ContentData data;
    auto readText = [&](config::Id key, std::string& field) {
      ReadField(record, config::Text(key), [&](const nlohmann::json& value) { field = value.get<std::string>(); });
    };
    readText(config::Id::KeyType, data.type);
    readText(config::Id::KeyUrl, data.url);
    readText(config::Id::KeyVideoUrl, data.videoUrl);
    readText(config::Id::KeyWatermarkText, data.watermarkText);
    ReadField(record, config::Text(config::Id::KeyContentNumber),
              [&](const nlohmann::json& value) { data.contentNumber = Int32Field(value); });
    return data;
  }
  const auto answer = TryParseJson(response.body);
  if (answer && answer->is_object() && answer->contains("message")) error = (*answer)["message"].get<std::string>();
  if (error.empty()) error = response.error;
  return std::nullopt;
}

std::optional<ContentData> GetContentData(const std::wstring& domain, const std::string& contentLinkId,
                                          const std::string& linkToken, std::string& error) {
  try {
    HttpClient& client = SharedHttpClient();
    const DeviceIdentity& identity = GetDeviceIdentity();
    client.SetDefaultHeader(config::Wide(config::Id::ContentHeader1), identity.machineKey);
    client.SetDefaultHeader(config::Wide(config::Id::ContentHeader2), identity.machineModel);
    client.SetDefaultHeader(config::Wide(config::Id::ContentHeader3), config::Wide(config::Id::ContentHeader3Value));
    const HttpResponse response = client.Request(L"PUT", domain + config::Wide(config::Id::ContentPath),
                                                 ContentFormBody(linkToken, contentLinkId), kFormContentType);
    return ReadContentAnswer(response, error);
  }
  MIRAVELL_CATCH_RETURN(std::nullopt)
}

std::vector<std::string> ReadServerListAnswer(const HttpResponse& response) {
  std::vector<std::string> servers;
  if (!response.success) return servers;
  try {
    const auto answer = TryParseJson(response.body);
    if (!answer) return servers;
    const std::string envelopeKey = config::Text(config::Id::EnvelopeKey);
    const std::string listKey = config::Text(config::Id::KeyServerList);
    const std::string addressKey = config::Text(config::Id::KeyServerAddress);
    const nlohmann::json* list = nullptr;
    if (answer->is_array()) {
      list = &*answer;
    } else if (answer->is_object() && answer->contains(envelopeKey)) {
      const auto& envelope = (*answer)[envelopeKey];
      if (envelope.is_array())
        list = &envelope;
      else if (envelope.is_object() && envelope.contains(listKey) && envelope[listKey].is_array())
        list = &envelope[listKey];
    }
    if (list == nullptr) return servers;
    for (const auto& item : *list) {
      if (item.is_string())
        servers.push_back(item.get<std::string>());
      else if (item.is_object() && item.contains(addressKey))
        servers.push_back(item[addressKey].get<std::string>());
    }
  }
  // The entries read so far stand.
  MIRAVELL_CATCH_LOG()
  return servers;
}

std::vector<std::string> FetchServerList(const std::wstring& domain) {
  try {
    const HttpResponse response = SharedHttpClient().Request(L"POST", domain + config::Wide(config::Id::ServerListPath),
                                                             std::string(), kFormContentType);
    return ReadServerListAnswer(response);
  }
  MIRAVELL_CATCH_RETURN({})
}
