#pragma once
// Text conversions between the two encodings the program speaks: UTF-16 for
// everything Windows-facing, UTF-8 for JSON, HTTP bodies and log lines.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// UTF-8 to UTF-16 over code page 65001 with explicit lengths; empty in, empty
// out. Invalid sequences become U+FFFD rather than failing the conversion.
std::wstring Utf8ToWide(std::string_view utf8);

// UTF-16 to UTF-8 over code page 65001 with explicit lengths; empty in, empty
// out. Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);

// Whether host is domain itself or a subdomain of it at any depth; a host that
// merely ends with the domain's text ("notyoutube.com") is neither. Both in
// lower case.
[[nodiscard]] bool IsHostOrSubdomain(std::wstring_view host, std::wstring_view domain);

// The host without one trailing dot: "host." is "host" to the resolver, so
// every rule and pin lookup must judge them alike.
[[nodiscard]] std::wstring_view WithoutTrailingDot(std::wstring_view host);

// A copy with every UTF-16 unit passed through towlower; the length never
// changes, so positions found in the copy are positions in the input.
std::wstring ToLowerWide(std::wstring_view text);

// Letter case of the hexadecimal digits a to f.
enum class HexCase { Lower, Upper };

// Appends the two hexadecimal digits of a byte, high digit first.
void AppendHexByte(std::string& out, unsigned char byte, HexCase letters);

// The value of one hexadecimal digit, letters in either case; -1 for any
// other character. Also used at compile time by the scrambled constants.
constexpr int HexDigitValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes that hexadecimal text spells, high digit first, letters in either
// case; nothing for an odd length or any character that is not a digit.
[[nodiscard]] std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view hex);

// Widens byte by byte (each byte becomes one UTF-16 unit); for ASCII texts
// such as diagnostic codes.
std::wstring WidenBytes(std::string_view bytes);
