#include "common/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(Text, Utf8AndUtf16RoundTripWhateverTheyHold) {
  const struct {
    const char* name;
    std::string utf8;
    std::wstring wide;
  } cases[] = {
      {"empty", "", L""},
      {"Arabic and ASCII", "جاري التحميل... Loading...", L"جاري التحميل... Loading..."},
      {"outside the basic plane: a surrogate pair", "\xF0\x9F\x8F\xA0", L"\U0001F3E0"},
      {"explicit lengths keep embedded zeros", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8ToWide(c.utf8), c.wide);
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8);
  }
}

TEST(Text, InvalidInputIsReplacedNotFatal) {
  const std::wstring fromBadUtf8 = Utf8ToWide("ok\xC3(\xFF\xFE end");
  EXPECT_EQ(fromBadUtf8.substr(0, 2), L"ok");
  EXPECT_NE(fromBadUtf8.find(L'\uFFFD'), std::wstring::npos);
  EXPECT_EQ(fromBadUtf8.substr(fromBadUtf8.size() - 4), L" end");

  const std::string fromLoneSurrogate = WideToUtf8(std::wstring(L"x") + wchar_t(0xD800) + L"y");
  EXPECT_EQ(fromLoneSurrogate.front(), 'x');
  EXPECT_EQ(fromLoneSurrogate.back(), 'y');
}

TEST(Text, WidenBytesMapsEachByteToOneUnit) {
  EXPECT_EQ(WidenBytes("SSL_host"), L"SSL_host");
  EXPECT_EQ(WidenBytes("\xE9"), std::wstring(1, wchar_t(0xE9)));
}

TEST(Text, HexOfEveryByteParsesBackInEitherCaseAndOnlyPairsOfDigitsParse) {
  std::string lower, upper;
  std::vector<std::uint8_t> all;
  for (unsigned byte = 0; byte < 256; ++byte) {
    AppendHexByte(lower, static_cast<unsigned char>(byte), HexCase::Lower);
    AppendHexByte(upper, static_cast<unsigned char>(byte), HexCase::Upper);
    all.push_back(static_cast<std::uint8_t>(byte));
  }
  EXPECT_EQ(lower.substr(2 * 0xAF, 2) + upper.substr(2 * 0xAF, 2), "afAF");
  EXPECT_EQ(ParseHex(lower), all);
  EXPECT_EQ(ParseHex(upper), all);
  EXPECT_EQ(ParseHex(""), std::vector<std::uint8_t>{});
  for (const char* bad : {"abc", "0g", "9:", "@A", " 1", "-1"}) EXPECT_EQ(ParseHex(bad), std::nullopt) << bad;
}

}  // namespace
