// The pin table: lookups, the built-in entry and downloaded pins.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/Config.h"
#include "common/Json.h"
#include "common/Text.h"
#include "net/PinDownload.h"
#include "net/Pinning.h"

namespace {

const std::string kPinA(43, 'A');
const std::string kPinB = std::string(43, 'B') + "=";

class PinTableTest : public ::testing::Test {
 protected:
  void TearDown() override { SetPinTable({}); }
};

TEST_F(PinTableTest, LongestScopeTheHostEndsWithAfterADotWins) {
  SetPinTable({{L"z", {"z-pin"}}, {L"y.z", {"yz-pin"}}, {L"other", {"o"}}});
  ASSERT_TRUE(FindPinEntry(L"x.y.z").has_value());
  EXPECT_EQ(FindPinEntry(L"x.y.z")->host, L"y.z");
  EXPECT_EQ(FindPinEntry(L"a.z")->host, L"z");
  EXPECT_EQ(FindPinEntry(L"y.z")->host, L"y.z");  // a scope covers itself
  EXPECT_FALSE(FindPinEntry(L"wz").has_value());  // no dot before the scope
  EXPECT_FALSE(FindPinEntry(L"z.y").has_value());
  EXPECT_EQ(FindPinEntry(L"X.Y.Z")->host, L"y.z");  // letter case does not matter
  // One trailing dot names the same host.
  ASSERT_TRUE(FindPinEntry(L"x.y.z.").has_value());
  EXPECT_EQ(FindPinEntry(L"x.y.z.")->host, L"y.z");
  EXPECT_EQ(FindPinEntry(L"y.z.")->host, L"y.z");
}

TEST_F(PinTableTest, FirstExactMatchWinsAndEqualScopesKeepTheirOrder) {
  SetPinTable({{L"a.b", {"first"}}, {L"A.B", {"second"}}, {L"b", {"b1"}}, {L"B", {"b2"}}});
  EXPECT_EQ(FindPinEntry(L"a.b")->pins, std::vector<std::string>{"first"});
  EXPECT_EQ(FindPinEntry(L"c.b")->pins, std::vector<std::string>{"b1"});
}

TEST_F(PinTableTest, AnEntryWithoutPinsDoesNotPin) {
  SetPinTable({{L"open.test", {}}});
  EXPECT_TRUE(FindPinEntry(L"open.test").has_value());
  EXPECT_FALSE(IsPinnedHost(L"open.test"));
}

TEST_F(PinTableTest, BuiltInTableIsTheServiceDomainWithFourPins) {
  const auto table = BuildDefaultPins();
  ASSERT_EQ(table.size(), 1u);
  EXPECT_EQ(table[0].host, config::Wide(config::Id::PinnedDomain));
  ASSERT_EQ(table[0].pins.size(), 4u);
  for (const auto& pin : table[0].pins) EXPECT_EQ(pin.size(), 44u);
}

TEST_F(PinTableTest, DownloadedPinsFollowTheBuiltInEntry) {
  const std::string builtIn = WideToUtf8(config::Wide(config::Id::PinnedDomain));
  const auto table = PinTableFromDownload("[{\"scope\":\"cdn.example\",\"pins\":[\"sha256/" + kPinA + "\",\"" + kPinB +
                                          "\",\"sha256/\",7,null]},"
                                          "{\"scope\":\"" +
                                          builtIn + "\",\"pins\":[\"" + kPinA +
                                          "\"]},"
                                          "{\"scope\":\"empty.example\",\"pins\":[]},"
                                          "{\"scope\":\"string.example\",\"pins\":\"" +
                                          kPinA +
                                          "\"},"
                                          "{\"pins\":[\"" +
                                          kPinA + "\"]},{\"scope\":\"nopins.example\"},5,\"text\",[1]]");
  ASSERT_TRUE(table.has_value());
  ASSERT_EQ(table->size(), 3u);
  EXPECT_EQ((*table)[0].pins, BuildDefaultPins()[0].pins);  // the built-in entry stays first
  EXPECT_EQ((*table)[1].host, L"cdn.example");
  // The prefix is dropped; "sha256/" alone stays as it is and can never match.
  EXPECT_EQ((*table)[1].pins, (std::vector<std::string>{kPinA, kPinB, "sha256/"}));
  EXPECT_EQ((*table)[2].host, config::Wide(config::Id::PinnedDomain));

  // For the built-in scope itself the built-in pins stay in force.
  SetPinTable(*table);
  EXPECT_EQ(FindPinEntry(config::Wide(config::Id::PinnedDomain))->pins, BuildDefaultPins()[0].pins);
}

TEST_F(PinTableTest, UnusableDownloadsChangeNothing) {
  for (const char* body : {"", "not json", "{\"scope\":\"a\",\"pins\":[]}", "\"text\"", "42", "null"}) {
    EXPECT_FALSE(PinTableFromDownload(body).has_value()) << body;
  }
  // A scope that is not a string ends the load with the library's type error.
  try {
    (void)PinTableFromDownload("[{\"scope\":5,\"pins\":[\"" + kPinA + "\"]}]");
    FAIL() << "expected a type error";
  } catch (const nlohmann::json::type_error& e) {
    EXPECT_NE(std::string(e.what()).find("type must be string, but is number"), std::string::npos);
  }
}

TEST_F(PinTableTest, LookupsDuringReplacementAlwaysSeeAWholeEntry) {
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread writer([&] {
    for (int i = 0; i < 2000; ++i) {
      SetPinTable({{L"svc.example", {i % 2 ? kPinA : kPinB, i % 2 ? kPinA : kPinB}}});
    }
    stop = true;
  });
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      while (!stop) {
        const auto entry = FindPinEntry(L"a.svc.example");
        if (entry && (entry->pins.size() != 2 || entry->pins[0] != entry->pins[1])) ++torn;
      }
    });
  }
  writer.join();
  for (auto& reader : readers) reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
