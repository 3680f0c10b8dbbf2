#include "common/Json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TryParseJson, ValidTextGivesItsValue) {
  const auto value = TryParseJson(R"({"iv":"abc","value":"def","n":4.8})");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->at("iv").get<std::string>(), "abc");
  EXPECT_DOUBLE_EQ(value->at("n").get<double>(), 4.8);
  ASSERT_TRUE(TryParseJson("[1,2]").has_value());
  EXPECT_TRUE(TryParseJson("[1,2]")->is_array());
}

TEST(TryParseJson, InvalidTextGivesNoValueInsteadOfThrowing) {
  for (const std::string text : {"", "   ", "{", "{\"a\":}", "[1,2", "nul", "{'a':1}", "\xff\xfe{}",
                                 "{\"a\":1} trailing", "\"unterminated", "{\"a\":\"\xC3(\"}"}) {
    EXPECT_FALSE(TryParseJson(text).has_value()) << text;
  }
}

TEST(TryParseJson, TypeErrorsAfterParsingKeepTheLibraryMessage) {
  const auto value = TryParseJson(R"({"iv":5})");
  ASSERT_TRUE(value.has_value());
  try {
    (void)(*value)["iv"].get<std::string>();
    FAIL() << "a number read as a string must throw";
  } catch (const nlohmann::json::type_error& e) {
    EXPECT_NE(std::string(e.what()).find("type must be string, but is number"), std::string::npos);
  }
}

TEST(TryParseJson, DeepNestingDoesNotCrash) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const auto value = TryParseJson(deep);  // accepted or refused, but no stack overflow
  (void)value;
  SUCCEED();
}

}  // namespace
