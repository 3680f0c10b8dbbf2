#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "identity/DeviceIdentity.h"
#include "identity/DiagnosticCode.h"
#include "common/Base64.h"
#include "common/Text.h"

namespace {

// Support's reversal, written out here rather than borrowed from the code
// under test: Base64, then XOR with the first 16 key characters.
std::string Reverse(const std::string& code) {
  static constexpr char kKey[] = "QRTOLK-NEBRAVIS#";
  const auto bytes = Base64Decode(code);
  std::string record;
  for (std::size_t i = 0; i < bytes.size(); ++i) record.push_back(static_cast<char>(bytes[i] ^ kKey[i % 16]));
  return record;
}

std::int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

TEST(DiagnosticCode, ScramblesWithTheFixedKeyIntoStandardBase64) {
  // Made independently (Python: XOR with the key, base64.b64encode).
  EXPECT_EQ(ScrambleDiagnostic("ERRDIAG|v1|ts=1700000000|mk=|reason=split_failed_parts_2|END"),
            "FAAGCwUKajIzcy41JXRiFGFiZH98ex1+OS85fCo7NkIiPTpyPztBJzEdNCA/JTZHDiI1PTg4cnw5BxwF");
  EXPECT_EQ(ScrambleDiagnostic(""), "");
}

TEST(DiagnosticCode, ABuiltCodeCarriesTimeMachineKeyAndTheReasonAsGiven) {
  const std::string reason = "exception_MAC verification failed \xE2\x80\x94 data may be tampered|x";
  const std::int64_t before = Now();
  const std::string code = BuildErrorDiagnosticCode(reason);
  const std::int64_t after = Now();

  EXPECT_EQ(code.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
            std::string::npos);
  const std::string record = Reverse(code);
  ASSERT_EQ(record.rfind("ERRDIAG|v1|ts=", 0), 0u) << record;
  ASSERT_GE(record.size(), 4u);
  EXPECT_EQ(record.substr(record.size() - 4), "|END");
  EXPECT_NE(record.find("|mk=" + WideToUtf8(GetMachineKey()) + "|reason=" + reason + "|END"), std::string::npos)
      << record;

  const auto decoded = DecodeDiagnosticCode(code);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_GE(decoded->timestamp, before);
  EXPECT_LE(decoded->timestamp, after);
  EXPECT_EQ(decoded->machineKey, WideToUtf8(GetMachineKey()));
  EXPECT_EQ(decoded->reason, reason) << "the reason runs to the last \"|\" before END";
}

TEST(DiagnosticCode, AnEmptyMachineKeyIsFollowedDirectlyByTheSeparator) {
  const std::string record = FormatDiagnosticRecord({-5, "", ""});
  EXPECT_EQ(record, "ERRDIAG|v1|ts=-5|mk=|reason=|END");
  const auto decoded = DecodeDiagnosticCode(ScrambleDiagnostic(record));
  ASSERT_TRUE(decoded.has_value());
  EXPECT_EQ(decoded->timestamp, -5);
  EXPECT_EQ(decoded->machineKey, "");
  EXPECT_EQ(decoded->reason, "");
}

TEST(DiagnosticCode, TextsThatAreNotCodesAreToldApart) {
  const std::string good = ScrambleDiagnostic("ERRDIAG|v1|ts=1|mk=QUJD|reason=r|END");
  EXPECT_TRUE(DecodeDiagnosticCode("  " + good + "\r\n").has_value()) << "pasted with blanks around it";
  std::string foreign = good;
  foreign[10] = '!';
  std::string earlyPadding = good;
  earlyPadding[0] = '=';
  const std::vector<std::string> notCodes = {"",
                                             "not a code",
                                             "QUJD",
                                             good.substr(0, good.size() - 4),
                                             foreign,
                                             earlyPadding,
                                             ScrambleDiagnostic("ERRDIAG|v1|ts=12x|mk=|reason=r|END"),
                                             ScrambleDiagnostic("ERRDIAG|v1|ts=1|reason=r|END"),
                                             ScrambleDiagnostic("ERRDIAG|v1|ts=1|mk=|reason=r|END\n")};
  for (const std::string& text : notCodes) {
    EXPECT_FALSE(DecodeDiagnosticCode(text).has_value()) << text;
  }
}

}  // namespace
