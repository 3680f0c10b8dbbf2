#pragma once
// Escaping of texts that go into HTML the program generates.
#include <string>

// For HTML content and single- or double-quoted attribute values: "&", "<",
// ">", double and single quotes become entities; everything else is copied.
std::wstring EscapeForHtml(const std::wstring& text);
