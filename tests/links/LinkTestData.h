#pragma once
// Reading the committed fixtures of tests/links/data.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Text.h"
#include "tests/support/TestSupport.h"

namespace link_test {

// A fixture as JSON; null when it cannot be read. Under Wine the source
// tree's Unix path is reached through drive Z:.
inline nlohmann::json LoadData(std::string_view name) {
  std::string path = std::string(MIRAVELL_LINKS_TEST_DATA) + "/" + std::string(name);
  if (!path.empty() && path.front() == '/') path = "Z:" + path;
  const std::vector<std::uint8_t> bytes = testing_support::ReadFileBytes(Utf8ToWide(path));
  if (bytes.empty()) return nullptr;
  return nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
}

inline std::vector<std::uint8_t> FromHex(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return bytes;
}

inline std::vector<std::uint8_t> BytesOf(std::string_view text) { return {text.begin(), text.end()}; }

}  // namespace link_test
