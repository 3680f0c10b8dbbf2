#include "common/Html.h"

std::wstring ReplaceEach(const std::wstring& text, std::initializer_list<Replacement> table) {
  std::wstring out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    const wchar_t* replacement = nullptr;
    for (const Replacement& entry : table) {
      if (entry.from == c) replacement = entry.to;
    }
    if (replacement != nullptr) {
      out += replacement;
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring EscapeForHtml(const std::wstring& text) {
  return ReplaceEach(text, {{L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}, {L'\'', L"&#39;"}});
}
