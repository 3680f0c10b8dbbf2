// How the service's answers are read: the version check, the content data,
// the form body and the server list.
#include <gtest/gtest.h>

#include "net/ServiceApi.h"

namespace {

HttpResponse Answer(std::uint32_t status, std::string body, std::string error = {}) {
  HttpResponse response;
  response.statusCode = status;
  response.success = status >= 200 && status <= 299;
  response.body = std::move(body);
  response.error = std::move(error);
  return response;
}

struct VersionCase {
  const char* body;
  bool hasUpdate;
  bool isRequired;
};

TEST(VersionAnswer, ComparesAsDecimalNumbersAgainst48) {
  const VersionCase cases[] = {
      {R"({"version":4.8})", false, false},  // equal is not newer
      {R"({"version":"4.8"})", false, false},
      {R"({"version":4.81})", true, false},
      {R"({"version":"4.9"})", true, false},
      {R"({"version":"4.10"})", false, false},      // reads as 4.1
      {R"({"version":"  5.0beta"})", true, false},  // leading blanks, trailing text: reads as 5.0
      {R"({"version":"latest"})", false, false},    // no number in front: 0
      {R"({"version":"1e999"})", false, false},     // out of range: 0
      {R"({"version":5})", true, false},
      {R"({"version":true})", false, false},
      {R"({"ver":5})", false, false},
      {R"([5])", false, false},
      {"not json", false, false},
      {R"({"version":5,"is_required":true})", true, false},  // a JSON true is not recognised
      {R"({"version":5,"is_required":1})", true, true},
      {R"({"version":5,"is_required":1.9})", true, true},  // fractions cut off
      {R"({"version":5,"is_required":"1"})", true, true},
      {R"({"version":5,"is_required":"true"})", true, false},
      {R"({"version":5,"is_required":4294967297})", true, false},  // not wrapped to 1
      {R"({"version":5,"is_required":1e300})", true, false},
      {R"({"version":4.8,"is_required":1})", false, false},  // only with an update
  };
  for (const auto& c : cases) {
    const VersionInfo info = ReadVersionAnswer(Answer(200, c.body), 4.8);
    EXPECT_EQ(info.hasUpdate, c.hasUpdate) << c.body;
    EXPECT_EQ(info.isRequired, c.isRequired) << c.body;
  }
}

TEST(VersionAnswer, LinkOnlyAsTextAndNothingFromAnErrorStatus) {
  EXPECT_EQ(ReadVersionAnswer(Answer(200, R"({"version":9,"link":"https://x.example/setup.exe"})"), 4.8).link,
            L"https://x.example/setup.exe");
  EXPECT_EQ(ReadVersionAnswer(Answer(200, R"({"version":9,"link":5})"), 4.8).link, L"");
  const VersionInfo failed = ReadVersionAnswer(Answer(500, R"({"version":9,"is_required":1})"), 4.8);
  EXPECT_FALSE(failed.hasUpdate);
  EXPECT_FALSE(failed.isRequired);
}

TEST(ContentAnswer, ReadsTheEnvelopeOrTheValueItselfWithDefaults) {
  std::string error;
  auto data = ReadContentAnswer(
      Answer(
          200,
          R"({"data":{"type":"pdf","url":"https://m.example/a.pdf","video_source":"","user_email":"s@x","injected_script_number":7}})"),
      error);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->type, "pdf");
  EXPECT_EQ(data->url, "https://m.example/a.pdf");
  EXPECT_EQ(data->watermarkText, "s@x");
  EXPECT_EQ(data->contentNumber, 7);

  data = ReadContentAnswer(Answer(200, R"({"type":"zoom","url":"https://z.example","injected_script_number":null})"),
                           error);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->type, "zoom");
  EXPECT_EQ(data->contentNumber, 1);

  // An array body: every field keeps its default.
  data = ReadContentAnswer(Answer(200, "[1,2]"), error);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->type, "video");
  EXPECT_EQ(data->url, "");
  EXPECT_EQ(data->contentNumber, 1);

  // An envelope that is not an object is not unwrapped.
  data = ReadContentAnswer(Answer(200, R"({"data":"x","type":"pdf"})"), error);
  ASSERT_TRUE(data.has_value());
  EXPECT_EQ(data->type, "pdf");
  EXPECT_TRUE(error.empty());
}

TEST(ContentAnswer, WrongTypesAndBadBodiesGiveNothing) {
  for (const char* body : {R"({"type":5})", R"({"url":["a"]})", R"({"injected_script_number":"7"})",
                           R"({"injected_script_number":3000000000})", R"({"data":{"user_email":{}}})"}) {
    std::string error;
    EXPECT_THROW((void)ReadContentAnswer(Answer(200, body), error), std::exception) << body;
  }
  std::string error;
  EXPECT_FALSE(ReadContentAnswer(Answer(200, "not json"), error).has_value());
  EXPECT_TRUE(error.empty());
}

TEST(ContentAnswer, FailuresLeaveTheServicesMessageOrTheEnginesText) {
  std::string error;
  EXPECT_FALSE(ReadContentAnswer(Answer(403, R"({"message":"انتهت صلاحية الرابط"})"), error).has_value());
  EXPECT_EQ(error, "انتهت صلاحية الرابط");

  error.clear();
  EXPECT_FALSE(ReadContentAnswer(Answer(404, "<html>"), error).has_value());
  EXPECT_EQ(error, "") << "an HTTP error status carries no engine text";

  error.clear();
  EXPECT_FALSE(ReadContentAnswer(Answer(0, "", "WinHttpConnect failed"), error).has_value());
  EXPECT_EQ(error, "WinHttpConnect failed");
}

TEST(ContentForm, ValuesAreEncodedSoTheyCannotChangeTheFields) {
  EXPECT_EQ(ContentFormBody("tok", "42"), "link_tk=tok&id=42");
  EXPECT_EQ(ContentFormBody("a&id=1", "x+y=z w/é"), "link_tk=a%26id%3D1&id=x%2By%3Dz+w%2F%C3%A9");
  EXPECT_EQ(FormEncode("AZaz09*-._~"), "AZaz09*-._%7E");
}

TEST(ServerList, ReadsAnArrayOrTheEnvelope) {
  EXPECT_EQ(ReadServerListAnswer(Answer(200, R"(["a","b"])")), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(ReadServerListAnswer(Answer(200, R"({"data":{"servers":[{"address":"x"},"y",5]}})")),
            (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(ReadServerListAnswer(Answer(200, R"({"data":["p"]})")), std::vector<std::string>{"p"});
  EXPECT_TRUE(ReadServerListAnswer(Answer(500, R"(["a"])")).empty());
  EXPECT_TRUE(ReadServerListAnswer(Answer(200, "nope")).empty());
  // A bad entry ends the list; the entries before it stand.
  EXPECT_EQ(ReadServerListAnswer(Answer(200, R"(["a",{"address":5},"c"])")), std::vector<std::string>{"a"});
}

}  // namespace
