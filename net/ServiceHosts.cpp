#include "net/ServiceHosts.h"

#include <string>

#include "common/Config.h"
#include "common/Text.h"

namespace {

constexpr std::wstring_view kHttpsPrefix = L"https://";
constexpr std::size_t kMaxHostLength = 253;

bool IsHostCharacter(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.';
}

// Printable ASCII apart from the characters that end or change an argument
// on its way through the shell, or that a browser reads as a separator.
bool IsPlainAddressCharacter(wchar_t c) { return c > L' ' && c < 0x7F && c != L'"' && c != L'\\'; }

// A name of dot-separated, non-empty labels (one trailing dot allowed).
bool IsHostName(std::wstring_view host) {
  if (host.empty() || host.size() > kMaxHostLength + 1) return false;
  host = WithoutTrailingDot(host);
  if (host.empty() || host.front() == L'.') return false;
  wchar_t previous = L'\0';
  for (const wchar_t c : host) {
    if (!IsHostCharacter(c) || (c == L'.' && previous == L'.')) return false;
    previous = c;
  }
  return true;
}

bool IsPort(std::wstring_view digits) {
  if (digits.empty() || digits.size() > 5) return false;
  unsigned value = 0;
  for (const wchar_t c : digits) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  return value >= 1 && value <= 65535;
}

}  // namespace

bool IsServiceHost(std::wstring_view host) {
  const std::wstring lowered = ToLowerWide(WithoutTrailingDot(host));
  if (lowered.empty()) return false;
  for (const auto id : {config::Id::ServiceDomain1, config::Id::ServiceDomain2, config::Id::ServiceDomain3,
                        config::Id::ServiceDomain4}) {
    // "evilmiravell.com" and "miravell.com.evil.example" are not ours.
    if (IsHostOrSubdomain(lowered, config::Wide(id))) return true;
  }
  return false;
}

std::wstring PlainHttpsHost(std::wstring_view address) {
  for (const wchar_t c : address) {
    // Browsers drop or reinterpret these before they look for the host.
    if (c < L' ' || c == 0x7F || c == L'\\') return {};
  }
  if (address.size() < kHttpsPrefix.size() || ToLowerWide(address.substr(0, kHttpsPrefix.size())) != kHttpsPrefix) {
    return {};
  }
  std::wstring_view authority = address.substr(kHttpsPrefix.size());
  authority = authority.substr(0, authority.find_first_of(L"/?#"));
  // Anything but host[:port] here (a user part, an escape, a bracketed
  // literal) is where parsers disagree about the host.
  std::wstring_view host = authority;
  if (const auto colon = authority.find(L':'); colon != std::wstring_view::npos) {
    if (!IsPort(authority.substr(colon + 1))) return {};
    host = authority.substr(0, colon);
  }
  if (!IsHostName(host)) return {};
  return ToLowerWide(WithoutTrailingDot(host));
}

bool IsServiceAddress(std::wstring_view address) {
  for (const wchar_t c : address) {
    if (!IsPlainAddressCharacter(c)) return false;
  }
  return IsServiceHost(PlainHttpsHost(address));
}

bool IsAllowedDirectContent(std::wstring_view address) {
  const std::wstring host = PlainHttpsHost(address);
  if (host.empty()) return false;
  if (IsServiceHost(host)) return true;
  for (const auto& allowed : config::WideList(config::Id::AllowedHosts)) {
    if (IsHostOrSubdomain(host, allowed)) return true;
  }
  return false;
}
