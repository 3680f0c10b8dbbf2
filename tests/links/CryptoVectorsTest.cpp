// Known-answer vectors (NIST SP 800-38A, RFC 4231 and openssl-made cases) run
// through the CNG code the envelopes use.
#include <gtest/gtest.h>

#include <stdexcept>

#include "links/LinkEnvelope.h"
#include "tests/links/LinkTestData.h"

namespace {

TEST(AesCbcKnownAnswers, EveryValidVectorDecryptsAndEncryptsAndEveryInvalidOneFailsAtItsStep) {
  const nlohmann::json data = link_test::LoadData("aes256_cbc_pkcs7.json");
  ASSERT_TRUE(data.is_object()) << "fixture missing";
  int valid = 0;
  int invalid = 0;
  for (const auto& test : data["tests"]) {
    SCOPED_TRACE("tcId " + std::to_string(test["tcId"].get<int>()) + ": " + test["comment"].get<std::string>());
    const auto key = ParseHex(test["key"].get<std::string>()).value();
    const auto iv = ParseHex(test["iv"].get<std::string>()).value();
    const auto msg = ParseHex(test["msg"].get<std::string>()).value();
    const auto ct = ParseHex(test["ct"].get<std::string>()).value();
    if (test["result"] == "valid") {
      ++valid;
      EXPECT_EQ(AesCbcDecrypt(ct, key, iv), msg);
      EXPECT_EQ(AesCbcEncrypt(msg, key, iv), ct);
      continue;
    }
    ++invalid;
    const bool badPadding = test["flags"].front() == "BadPadding";
    try {
      (void)AesCbcDecrypt(ct, key, iv);
      ADD_FAILURE() << "an invalid vector decrypted";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), badPadding ? kAesDecryptError : kAesSizeQueryError);
    }
  }
  EXPECT_GE(valid, 40);
  EXPECT_GE(invalid, 20);
}

TEST(AesCbcKnownAnswers, OnlyTheThreeAesKeySizesAreTaken) {
  const std::vector<std::uint8_t> iv(16, 0), message = {'l', 'i', 'n', 'k'};
  for (const std::size_t size : {0u, 1u, 16u, 24u, 31u, 32u, 33u, 64u}) {
    const std::vector<std::uint8_t> key(size, 0x5A);
    if (size == 16 || size == 24 || size == 32) {
      EXPECT_EQ(AesCbcDecrypt(AesCbcEncrypt(message, key, iv), key, iv), message) << size;
      continue;
    }
    try {
      (void)AesCbcDecrypt(std::vector<std::uint8_t>(16, 0), key, iv);
      ADD_FAILURE() << "a key of " << size << " bytes was taken";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), kAesKeyError) << size;
    }
  }
}

TEST(HmacSha256KnownAnswers, EveryValidTagMatchesAndEveryInvalidOneDoesNot) {
  const nlohmann::json data = link_test::LoadData("hmac_sha256.json");
  ASSERT_TRUE(data.is_object()) << "fixture missing";
  int valid = 0;
  int invalid = 0;
  for (const auto& test : data["tests"]) {
    SCOPED_TRACE("tcId " + std::to_string(test["tcId"].get<int>()) + ": " + test["comment"].get<std::string>());
    const auto key = ParseHex(test["key"].get<std::string>()).value();
    const auto digest = HmacSha256(ParseHex(test["msg"].get<std::string>()).value(), key);
    ASSERT_EQ(digest.size(), 32u);
    const auto tag = ParseHex(test["tag"].get<std::string>()).value();
    ASSERT_EQ(tag.size() * 8, test["tagSize"].get<std::size_t>());
    const bool matches = std::equal(tag.begin(), tag.end(), digest.begin());
    if (test["result"] == "valid") {
      ++valid;
      EXPECT_TRUE(matches);
    } else {
      ++invalid;
      EXPECT_FALSE(matches);
    }
  }
  EXPECT_GE(valid, 40);
  EXPECT_GE(invalid, 8);
}

}  // namespace
