#include "common/Base64.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string DecodeToText(std::string_view text) {
  const auto bytes = Base64Decode(text);
  return std::string(bytes.begin(), bytes.end());
}

// RFC 4648 section 10 vectors, both ways.
TEST(Base64, StandardVectorsRoundTrip) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(Base64Encode(plain), encoded) << plain;
    EXPECT_EQ(DecodeToText(encoded), plain) << encoded;
  }
}

TEST(Base64, EncodesEveryByteValueAndBothHighSymbols) {
  std::string all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
  const std::string encoded = Base64Encode(all);
  EXPECT_EQ(encoded.size(), 344u);
  EXPECT_EQ(encoded.substr(0, 8), "AAECAwQF");
  EXPECT_EQ(encoded.substr(encoded.size() - 8), "/P3+/w==");  // python3 base64 agrees
  EXPECT_EQ(DecodeToText(encoded), all);
  EXPECT_EQ(Base64Encode(std::string("\xfb\xff", 2)), "+/8=");
}

TEST(Base64, DecodeStopsAtPaddingAndIgnoresWhatFollows) {
  EXPECT_EQ(DecodeToText("Zm9v=Zm9v"), "foo");
  EXPECT_EQ(DecodeToText("Zg==junk that is not base64!"), "f");
  EXPECT_EQ(DecodeToText("Zm9vYmFy=="), "foobar");
}

TEST(Base64, DecodeStopsAtFirstForeignCharacterWhiteSpaceIncluded) {
  EXPECT_EQ(DecodeToText("Zm9v YmFy"), "foo");
  EXPECT_EQ(DecodeToText("Zm9v\nYmFy"), "foo");
  EXPECT_EQ(DecodeToText("Zm9v\tYmFy"), "foo");
  EXPECT_EQ(DecodeToText("Zm9v-_Fy"), "foo");  // URL-safe symbols are foreign here
  EXPECT_EQ(DecodeToText(" Zm9v"), "");
  EXPECT_EQ(DecodeToText(std::string("Zm\0v", 4)), "f");  // a zero byte ends it; the pair "Zm" gives one byte
}

TEST(Base64, PendingTailsOfOneTwoAndThreeCharacters) {
  EXPECT_EQ(Base64Decode("Zm9vY").size(), 3u);  // a lone tail character gives nothing
  EXPECT_EQ(DecodeToText("Zm9vYg"), "foob");    // two give one byte
  EXPECT_EQ(DecodeToText("Zm9vYmE"), "fooba");  // three give two bytes
  EXPECT_EQ(Base64Decode("Z").size(), 0u);
  EXPECT_EQ(DecodeToText("Zg"), "f");
  EXPECT_EQ(DecodeToText("Zm8"), "fo");
}

TEST(Base64, DecodeOfNothingUsableIsEmptyNotAFailure) {
  EXPECT_TRUE(Base64Decode("").empty());
  EXPECT_TRUE(Base64Decode("=").empty());
  EXPECT_TRUE(Base64Decode("{\"iv\":1}").empty());
  EXPECT_TRUE(Base64Decode("\xff\xfe").empty());
}

}  // namespace
