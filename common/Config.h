#pragma once
// The build's constants for the service: addresses and paths, pins, header and
// form names, JSON keys, hosts, browser arguments, download addresses, start
// pages, the link key block and the names used to read the machine identity.
// All live scrambled in the binary (see Scramble.h) and are rebuilt on use.
// The profile (production or local) is chosen when CMake configures.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Secret.h"

namespace config {

enum class Id : int {
#define MIRAVELL_CONFIG(name, text) name,
#define MIRAVELL_CONFIG_HEX(name, size, hex) name,
#include "common/config/Values.inc"
#undef MIRAVELL_CONFIG
#undef MIRAVELL_CONFIG_HEX
  Count
};

// The name of a value, for tests and the tools.
std::string_view Name(Id id);

// The value as narrow text (UTF-8), rebuilt from its scrambled form.
std::string Text(Id id);

// The value as a wide text.
std::wstring Wide(Id id);

// A list value: the text split at line feeds, each item widened.
std::vector<std::wstring> WideList(Id id);

// A secret value, rebuilt into a buffer that is wiped when it goes.
SecretBytes Secret(Id id);

// The stored (scrambled) bytes: the key byte, then the data bytes.
std::span<const std::uint8_t> Stored(Id id);

// Separator of list values.
inline constexpr char kListSeparator = '\n';

}  // namespace config
