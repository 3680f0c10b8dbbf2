#include "common/Text.h"

#include <windows.h>

#include <climits>
#include <cwctype>
#include <stdexcept>

#include "common/FailureLog.h"
#include "common/Secret.h"

namespace {

int CheckedLength(std::size_t size) {
  if (size > static_cast<std::size_t>(INT_MAX)) {
    throw std::length_error("text too long to convert");
  }
  return static_cast<int>(size);
}

}  // namespace

std::wstring Utf8ToWide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int inLength = CheckedLength(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
  MIRAVELL_RETURN_VALUE_LAST_ERROR_IF({}, needed <= 0);
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  const int written = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, wide.data(), needed);
  wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int inLength = CheckedLength(wide.size());
  const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
  MIRAVELL_RETURN_VALUE_LAST_ERROR_IF({}, needed <= 0);
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  const int written = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, utf8.data(), needed, nullptr, nullptr);
  utf8.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return utf8;
}

std::wstring ToLowerWide(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& unit : lower) unit = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(unit)));
  return lower;
}

std::wstring WidenBytes(std::string_view bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (const char c : bytes) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

std::wstring_view WithoutTrailingDot(std::wstring_view host) {
  if (host.ends_with(L'.')) host.remove_suffix(1);
  return host;
}

bool IsHostOrSubdomain(std::wstring_view host, std::wstring_view domain) {
  if (domain.empty() || !host.ends_with(domain)) return false;
  return host.size() == domain.size() || host[host.size() - domain.size() - 1] == L'.';
}

void AppendHexByte(std::string& out, unsigned char byte, HexCase letters) {
  static constexpr char kDigits[] = "0123456789abcdef0123456789ABCDEF";
  const unsigned offset = letters == HexCase::Upper ? 16u : 0u;
  out.push_back(kDigits[offset + (byte >> 4)]);
  out.push_back(kDigits[offset + (byte & 0x0Fu)]);
}

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigitValue(hex[i]);
    const int low = HexDigitValue(hex[i + 1]);
    if (high < 0 || low < 0) {
      // What was read so far may be part of a key.
      SecureWipe(bytes.data(), bytes.size());
      return std::nullopt;
    }
    bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
  }
  return bytes;
}
