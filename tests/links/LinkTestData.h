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

}  // namespace link_test
