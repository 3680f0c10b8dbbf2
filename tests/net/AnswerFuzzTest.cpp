// Malformed service answers in bulk, seeded so every run tries the same ones:
// reading them may refuse them, but never crash, hang or give an outcome the
// calls do not allow.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "common/Json.h"
#include "net/PinDownload.h"
#include "net/Pinning.h"
#include "net/ServiceApi.h"

namespace {

const char* const kSeeds[] = {
    R"({"version":"4.9","is_required":1,"link":"https://files.example/setup.exe"})",
    R"({"version":5,"is_required":"1"})",
    R"({"data":{"type":"pdf","url":"https://m.example/a.pdf","video_source":"https://youtu.be/x","user_email":"s@x","injected_script_number":7}})",
    R"({"type":"zoom","url":"https://z.example","injected_script_number":-3})",
    R"([{"scope":"cdn.example","pins":["sha256/AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=","BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB="]}])",
    R"({"message":"expired"})",
};

const char* const kFragments[] = {
    "null",
    "true",
    "false",
    "0",
    "-1",
    "1e308",
    "-1e309",
    "18446744073709551616",
    "4294967297",
    "1.0000001",
    "\"\"",
    "\"1\"",
    "\"4.8.1\"",
    "[]",
    "{}",
    "[[[[[[",
    "]]]]",
    "{\"a\":",
    "\"\xff\xfe\"",
    "\"\xc3\x28\"",
    "\"\\ud800\"",
    "\"\\u0000\"",
    ",",
    ":",
    "\"version\"",
    "\"pins\"",
    "\"scope\"",
    "\"data\"",
    "\"is_required\"",
    "\"injected_script_number\"",
    "\"sha256/\"",
};

class Mutator {
 public:
  explicit Mutator(unsigned seed) : random_(seed) {}

  std::string Next() {
    std::string text = kSeeds[Pick(std::size(kSeeds))];
    const int edits = 1 + static_cast<int>(Pick(4));
    for (int i = 0; i < edits; ++i) Mutate(text);
    return text;
  }

 private:
  std::size_t Pick(std::size_t bound) { return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random_); }

  void Mutate(std::string& text) {
    const std::size_t at = text.empty() ? 0 : Pick(text.size());
    switch (Pick(8)) {
      case 0:
        text.resize(at);
        break;  // cut short
      case 1:
        if (!text.empty()) text[at] = static_cast<char>(Pick(256));
        break;  // any byte
      case 2:
        text.insert(at, kFragments[Pick(std::size(kFragments))]);
        break;  // wrong types
      case 3:
        text.insert(at, std::string(1 + Pick(5000), static_cast<char>('a' + Pick(26))));
        break;                                     // long
      case 4: {                                    // deep nesting
        const std::size_t depth = 1 + Pick(1500);  // far deeper nesting: see the JSON tests
        text = std::string(depth, '[') + text + std::string(Pick(2) ? depth : depth / 2, ']');
        break;
      }
      case 5:
        if (!text.empty()) text.erase(at, 1 + Pick(8));
        break;
      case 6:
        text.insert(at, text.substr(at, Pick(40)));
        break;  // doubled
      default:
        text.insert(at, "\xed\xa0\x80\xc0\xaf");
        break;  // invalid UTF-8
    }
  }

  std::mt19937 random_;
};

HttpResponse Ok(std::string body) {
  HttpResponse response;
  response.statusCode = 200;
  response.success = true;
  response.body = std::move(body);
  return response;
}

TEST(AnswerFuzz, TwelveThousandMalformedAnswersThroughEveryReader) {
  Mutator mutator(20261208);
  const auto started = std::chrono::steady_clock::now();
  int refused = 0;
  for (int i = 0; i < 12000; ++i) {
    const std::string body = mutator.Next();
    const HttpResponse response = Ok(body);

    const VersionInfo version = ReadVersionAnswer(response, 4.8);  // never throws
    if (version.isRequired) {
      ASSERT_TRUE(version.hasUpdate) << body;
    }
    if (!version.hasUpdate) {
      ASSERT_TRUE(version.link.empty()) << body;
    }

    try {
      std::string error;
      const auto content = ReadContentAnswer(response, error);
      ASSERT_TRUE(error.empty()) << body;
      (void)content;
    } catch (const std::exception&) {
      ++refused;  // the call catches these and returns nothing
    }

    try {
      if (const auto table = PinTableFromDownload(body)) {
        ASSERT_FALSE(table->empty());
        ASSERT_EQ(table->front().host, BuildDefaultPins().front().host) << "the built-in entry stays first";
        for (std::size_t e = 1; e < table->size(); ++e) ASSERT_FALSE((*table)[e].pins.empty());
      }
    } catch (const nlohmann::json::type_error&) {
      ++refused;  // a scope that is not a string ends the load
    }

    (void)ReadServerListAnswer(response);  // never throws
  }
  EXPECT_GT(refused, 0) << "the mutations should reach the type checks";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(120));
}

}  // namespace
