#pragma once
// Filling the insertion points of the program's page and script files. A file
// marks each place a value goes with "{{NAME}}" (capital letters, digits and
// underscores, starting with a letter); anything else in braces is the page's
// own text.
#include <initializer_list>
#include <string>
#include <string_view>

// The value for every "{{name}}" marker; inserted as it is, so any escaping
// is the caller's.
struct PageValue {
  std::wstring_view name;
  std::wstring_view value;
};

// The page with each marker replaced by its value (a marker may occur more
// than once). A value is never searched for markers itself. Throws
// std::logic_error for a marker without a value and for a value without a
// marker: the files are the program's own, so either is a build fault that
// the tests of the page's builder catch.
std::wstring FillPage(std::wstring_view page, std::initializer_list<PageValue> values);
