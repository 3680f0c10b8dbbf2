#pragma once
// Escaping of texts that go into HTML the program generates.
#include <initializer_list>
#include <string>

// A character and the text that stands for it in an escaped copy.
struct Replacement {
  wchar_t from;
  const wchar_t* to;
};

// Copies text, putting each character the table names by its replacement.
std::wstring ReplaceEach(const std::wstring& text, std::initializer_list<Replacement> table);

// For HTML content and single- or double-quoted attribute values: "&", "<",
// ">", double and single quotes become entities; everything else is copied.
std::wstring EscapeForHtml(const std::wstring& text);
