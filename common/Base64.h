#pragma once
// Base64 in the standard alphabet ("A"-"Z", "a"-"z", "0"-"9", "+", "/").
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Standard encoding with "=" padding and no line breaks; empty in, empty out.
std::string Base64Encode(std::span<const std::uint8_t> bytes);
std::string Base64Encode(std::string_view bytes);

// Lenient decoding: stops at the first "=" or at the first character outside
// the alphabet (white space included) and ignores the rest. A pending group of
// two characters gives one byte, of three two bytes, of one nothing. Never
// fails.
std::vector<std::uint8_t> Base64Decode(std::string_view text);
