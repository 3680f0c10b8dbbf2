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

// Decoding never fails: it stops at the first character outside the
// alphabet ("=" included) and turns what it has into bytes.
TEST(Base64, DecodeStopsAtTheFirstForeignCharacterAndKeepsThePendingTail) {
  const struct {
    const char* text;
    const char* plain;
  } cases[] = {
      {"Zm9v=Zm9v", "foo"},                                       // what follows padding is ignored
      {"Zm9v\nYmFy", "foo"},                                      // white space is foreign too
      {"Zm9v-_Fy", "foo"},                                        // so are the URL-safe symbols
      {" Zm9v", ""},         {"\xff\xfe", ""}, {"Zm9vY", "foo"},  // a lone tail character gives nothing
      {"Zg", "f"},                                                // two give one byte
      {"Zm8", "fo"},                                              // three give two bytes
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeToText(c.text), c.plain) << c.text;
}

}  // namespace
