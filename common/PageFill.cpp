#include "common/PageFill.h"

#include <stdexcept>
#include <vector>

#include "common/Text.h"

namespace {

bool IsNameStart(wchar_t c) { return c >= L'A' && c <= L'Z'; }

bool IsNameChar(wchar_t c) { return IsNameStart(c) || (c >= L'0' && c <= L'9') || c == L'_'; }

// The length of the marker's name when a marker starts at position, else 0.
size_t MarkerNameLength(std::wstring_view page, size_t position) {
  if (page.substr(position, 2) != L"{{" || position + 2 >= page.size() || !IsNameStart(page[position + 2])) return 0;
  size_t end = position + 2;
  while (end < page.size() && IsNameChar(page[end])) ++end;
  return page.substr(end, 2) == L"}}" ? end - (position + 2) : 0;
}

}  // namespace

std::wstring FillPage(std::wstring_view page, std::initializer_list<PageValue> values) {
  std::vector<bool> used(values.size(), false);
  std::wstring out;
  out.reserve(page.size());
  size_t position = 0;
  while (position < page.size()) {
    const size_t nameLength = MarkerNameLength(page, position);
    if (nameLength == 0) {
      out += page[position++];
      continue;
    }
    const std::wstring_view name = page.substr(position + 2, nameLength);
    size_t index = 0;
    for (const PageValue& value : values) {
      if (value.name == name) break;
      ++index;
    }
    if (index == values.size()) throw std::logic_error("no value for the page's marker " + WideToUtf8(name));
    used[index] = true;
    out += values.begin()[index].value;
    position += nameLength + 4;
  }
  size_t index = 0;
  for (const PageValue& value : values) {
    if (!used[index++]) throw std::logic_error("the page has no marker " + WideToUtf8(value.name));
  }
  return out;
}
