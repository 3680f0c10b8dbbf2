#include "player/PublicSuffix.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Text.h"

namespace {

#include "PublicSuffixTable.inc"

// Rule kinds of a name in the table.
constexpr std::uint32_t kPlain = 1;
constexpr std::uint32_t kWildcard = 2;   // "*." + name
constexpr std::uint32_t kException = 4;  // "!" + name

std::string_view SuffixName(std::size_t index) {
  const std::uint32_t start = kSuffixEntries[index] >> 3;
  const std::uint32_t end = kSuffixEntries[index + 1] >> 3;
  return {reinterpret_cast<const char*>(kSuffixText) + start, end - start};
}

// The kinds of rule the list has for exactly this name; 0 for none.
std::uint32_t RulesFor(std::string_view name) {
  std::size_t low = 0;
  std::size_t high = kSuffixCount;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (SuffixName(middle) < name) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low < kSuffixCount && SuffixName(low) == name ? kSuffixEntries[low] & 7u : 0u;
}

}  // namespace

std::wstring RegistrableDomain(std::wstring_view host) {
  if (host.empty()) return {};
  // Where each label starts; label 0 is the leftmost.
  std::vector<std::size_t> starts{0};
  for (std::size_t i = 0; i < host.size(); ++i) {
    if (host[i] == L'.') starts.push_back(i + 1);
  }
  const std::size_t labels = starts.size();

  // The label where the public suffix starts. With no rule the last label is
  // the suffix; the longest matching rule wins, and an exception beats every
  // other rule: the suffix is then the exception without its first label.
  std::size_t suffix = labels - 1;
  bool excepted = false;
  for (std::size_t i = 0; i < labels && !excepted; ++i) {
    const std::uint32_t kinds = RulesFor(WideToUtf8(host.substr(starts[i])));
    if ((kinds & kException) != 0) {
      suffix = i + 1;
      excepted = true;
    } else {
      if ((kinds & kPlain) != 0) suffix = std::min(suffix, i);
      if ((kinds & kWildcard) != 0 && i > 0) suffix = std::min(suffix, i - 1);
    }
  }
  if (suffix == 0) return {};
  return std::wstring(host.substr(starts[suffix - 1]));
}
