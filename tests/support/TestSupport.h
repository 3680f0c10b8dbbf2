#pragma once
// Small helpers shared by the unit tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Folder of the running test binary; every program of the build lands there.
std::wstring ExeDir();

// Path of a program of the build, next to the test binary.
std::wstring BuildProgram(std::wstring_view fileName);

// Whole file, or an empty vector when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path);

// Whether needle occurs in haystack (byte comparison).
bool Contains(const std::vector<std::uint8_t>& haystack, const std::vector<std::uint8_t>& needle);

// The bytes of a text as ASCII/UTF-8 and as UTF-16LE.
std::vector<std::uint8_t> AsciiBytes(std::string_view text);
std::vector<std::uint8_t> Utf16Bytes(std::string_view text);

// Whether the tests run under Wine (for the few places where it differs).
bool RunningUnderWine();

}  // namespace testing_support
