#include "common/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

TEST(Text, EmptyInEmptyOut) {
  EXPECT_EQ(Utf8ToWide(""), L"");
  EXPECT_EQ(WideToUtf8(L""), "");
  EXPECT_EQ(WidenBytes(""), L"");
}

TEST(Text, ArabicRoundTripsThroughBothEncodings) {
  const std::string utf8 = "جاري التحميل... Loading...";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide.size(), 26u);
  EXPECT_EQ(wide[0], L'\u062C');
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(Text, SurrogatePairsBecomeFourByteSequences) {
  const std::wstring house = L"\U0001F3E0";  // outside the basic plane
  ASSERT_EQ(house.size(), 2u);
  EXPECT_EQ(WideToUtf8(house), "\xF0\x9F\x8F\xA0");
  EXPECT_EQ(Utf8ToWide("\xF0\x9F\x8F\xA0"), house);
}

TEST(Text, ExplicitLengthsKeepEmbeddedZeros) {
  const std::string withZero("a\0b", 3);
  EXPECT_EQ(Utf8ToWide(withZero), std::wstring(L"a\0b", 3));
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\0b", 3)), withZero);
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
