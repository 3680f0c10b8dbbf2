#pragma once
// JSON parsing that answers "no value" instead of throwing on invalid text.
#include <nlohmann/json.hpp>

#include <optional>
#include <string_view>

// Parses text as JSON; every exception of the parse is caught and yields an
// empty optional. Type errors on the value afterwards are the caller's.
std::optional<nlohmann::json> TryParseJson(std::string_view text);
