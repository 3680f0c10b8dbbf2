// Envelopes made with the openssl command line (tests/links/data); the
// operator's side is checked against openssl and Python by test_link_tool.py.
#include <gtest/gtest.h>

#include <stdexcept>

#include "links/LinkEnvelope.h"
#include "tests/links/LinkTestData.h"

namespace {

TEST(DecryptLinkEnvelope, OpensOrRefusesEveryIndependentlyMadeEnvelopeWithTheExactText) {
  const nlohmann::json data = link_test::LoadData("envelopes.json");
  ASSERT_TRUE(data.is_object()) << "fixture missing";
  ASSERT_GE(data["cases"].size(), 30u);
  for (const auto& fixture : data["cases"]) {
    SCOPED_TRACE(fixture["name"].get<std::string>());
    const std::string envelope = fixture["envelope"].get<std::string>();
    const auto key = ParseHex(fixture["key"].get<std::string>()).value();
    if (fixture.contains("plaintext")) {
      EXPECT_EQ(DecryptLinkEnvelope(envelope, key), fixture["plaintext"].get<std::string>());
      continue;
    }
    try {
      const std::string plain = DecryptLinkEnvelope(envelope, key);
      ADD_FAILURE() << "opened to \"" << plain << "\"";
    } catch (const nlohmann::json::exception& e) {
      // The JSON library's own message reaches the caller unchanged.
      ASSERT_TRUE(fixture.contains("json_error_contains")) << e.what();
      EXPECT_NE(std::string(e.what()).find(fixture["json_error_contains"].get<std::string>()), std::string::npos)
          << e.what();
    } catch (const std::runtime_error& e) {
      ASSERT_TRUE(fixture.contains("error")) << e.what();
      EXPECT_EQ(std::string(e.what()), fixture["error"].get<std::string>());
    }
  }
}

}  // namespace
