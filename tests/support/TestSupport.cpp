#include "tests/support/TestSupport.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "common/Text.h"

namespace testing_support {

std::wstring ExeDir() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path, length);
  const auto slash = dir.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring(L".") : dir.substr(0, slash);
}

std::wstring BuildProgram(std::wstring_view fileName) { return ExeDir() + L"\\" + std::wstring(fileName); }

std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) return {};
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool Contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::vector<std::uint8_t> AsciiBytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> Utf16Bytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  for (const wchar_t unit : Utf8ToWide(text)) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
  }
  return bytes;
}

bool RunningUnderWine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace testing_support
