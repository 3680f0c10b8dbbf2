#include "common/Json.h"

std::optional<nlohmann::json> TryParseJson(std::string_view text) {
  try {
    return nlohmann::json::parse(text.begin(), text.end());
  } catch (...) {
    return std::nullopt;
  }
}
