#include "common/Config.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/Base64.h"
#include "common/Text.h"

namespace {

struct Expected {
  config::Id id;
  std::string name;
  std::string plain;  // the value's bytes
};

// A hex value's bytes, as the text the configuration hands out.
std::string HexBytes(std::string_view hex) {
  const std::vector<std::uint8_t> bytes = ParseHex(hex).value();
  return {bytes.begin(), bytes.end()};
}

// The plain values, taken from the same list the build scrambles.
std::vector<Expected> AllValues() {
  return {
#define MIRAVELL_CONFIG(name, text) {config::Id::name, #name, std::string(text)},
#define MIRAVELL_CONFIG_HEX(name, size, hex) {config::Id::name, #name, HexBytes(hex)},
#include "common/config/Values.inc"
#undef MIRAVELL_CONFIG
#undef MIRAVELL_CONFIG_HEX
  };
}

TEST(Config, EveryValueRoundTripsThroughItsScrambledForm) {
  const auto values = AllValues();
  ASSERT_EQ(values.size(), static_cast<std::size_t>(config::Id::Count));
  for (const auto& value : values) {
    SCOPED_TRACE(value.name);
    EXPECT_EQ(config::Name(value.id), value.name);
    const auto stored = config::Stored(value.id);
    ASSERT_EQ(stored.size(), value.plain.size() + 1);
    // A key of 0 would leave the text readable in the program file.
    const std::uint8_t key = stored[0];
    EXPECT_NE(key, 0);
    for (std::size_t i = 0; i < value.plain.size(); ++i) {
      const auto expected =
          static_cast<std::uint8_t>(static_cast<std::uint8_t>(value.plain[i]) ^ static_cast<std::uint8_t>(i) ^ key);
      ASSERT_EQ(stored[i + 1], expected) << "byte " << i;
    }
    EXPECT_EQ(config::Text(value.id), value.plain);
    const SecretBytes secret = config::Secret(value.id);
    EXPECT_EQ(std::string(secret.data(), secret.data() + secret.size()), value.plain);
  }
}

TEST(Config, ListsHaveTheirGroupsAndCounts) {
  const auto hosts = config::WideList(config::Id::AllowedHosts);
  EXPECT_EQ(hosts.size(), 39u);
  EXPECT_EQ(std::set<std::wstring>(hosts.begin(), hosts.end()).size(), 39u) << "no duplicates";
  for (const auto& host : hosts) {
    EXPECT_FALSE(host.empty());
    for (const wchar_t c : host) EXPECT_FALSE(c >= L'A' && c <= L'Z') << WideToUtf8(host);
  }
  const auto pair1 = config::WideList(config::Id::MediaPair1);
  const auto pair2 = config::WideList(config::Id::MediaPair2);
  ASSERT_EQ(pair1.size(), 2u);
  ASSERT_EQ(pair2.size(), 2u);
  for (const auto& host : {pair1[0], pair1[1], pair2[0], pair2[1]}) {
    EXPECT_NE(std::find(hosts.begin(), hosts.end(), host), hosts.end()) << WideToUtf8(host);
  }
  EXPECT_EQ(config::WideList(config::Id::IdentityRuleHosts).size(), 3u);
}

TEST(Config, PinsAreBase64OfSha256Digests) {
  for (const auto id : {config::Id::Pin1, config::Id::Pin2, config::Id::Pin3, config::Id::Pin4}) {
    const std::string pin = config::Text(id);
    EXPECT_EQ(pin.size(), 44u);
    EXPECT_EQ(Base64Decode(pin).size(), 32u);
    EXPECT_EQ(Base64Encode(Base64Decode(pin)), pin);
  }
}

TEST(Config, AddressesAreHttpsAndPathsStartWithASlash) {
  for (const auto id : {config::Id::PinUrl, config::Id::VersionUrl, config::Id::ScriptUrl,
                        config::Id::FallbackDownloadUrl, config::Id::RuntimeInstallerUrl,
                        config::Id::RepairInstallerUrl, config::Id::InitialPageUrl, config::Id::HomePageUrl}) {
    EXPECT_EQ(config::Text(id).rfind("https://", 0), 0u) << config::Name(id);
  }
  for (const auto id : {config::Id::VersionPath, config::Id::ContentPath, config::Id::ServerListPath}) {
    EXPECT_EQ(config::Text(id).front(), '/') << config::Name(id);
  }
  EXPECT_TRUE(config::Text(config::Id::FallbackDownloadUrl).ends_with("/desktop/miravell/MiravellSetup.exe"));
  EXPECT_GT(config::Text(config::Id::HomePageUrl).size(), config::Text(config::Id::InitialPageUrl).size());
  // The fixed version address is a service host followed by the version path.
  EXPECT_TRUE(config::Text(config::Id::VersionUrl).ends_with(config::Text(config::Id::VersionPath)));
  // The operator's domain is covered by the built-in pin scope.
  EXPECT_TRUE(config::Text(config::Id::PinnedDomain).ends_with(config::Text(config::Id::OperatorDomain)));
}

TEST(Config, BrowserArgumentsAreTwoSwitchesJoinedByOneSpace) {
  const std::string arguments = config::Text(config::Id::BrowserArguments);
  const auto space = arguments.find(' ');
  ASSERT_NE(space, std::string::npos);
  EXPECT_EQ(arguments.find(' ', space + 1), std::string::npos);
  EXPECT_EQ(arguments.rfind("--", 0), 0u);
  EXPECT_EQ(arguments.compare(space + 1, 2, "--"), 0);
}

}  // namespace
