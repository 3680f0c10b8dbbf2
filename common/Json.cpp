#include "common/Json.h"

#include "common/FailureLog.h"

std::optional<nlohmann::json> TryParseJson(std::string_view text) {
  try {
    // Without exceptions for invalid text: answers from the network are
    // often not JSON, and raising an exception for each is slow.
    nlohmann::json value = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) return std::nullopt;
    return value;
  }
  MIRAVELL_CATCH_RETURN(std::nullopt)
}
