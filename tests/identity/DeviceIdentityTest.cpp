#include <gtest/gtest.h>

#include <windows.h>

#include <regex>
#include <thread>

#include "identity/DeviceIdentity.h"
#include "common/Base64.h"
#include "common/Handles.h"
#include "common/Text.h"

namespace {

std::string DecodeValue(const std::wstring& value) {
  const auto bytes = Base64Decode(WideToUtf8(value));
  return {bytes.begin(), bytes.end()};
}

std::wstring EncodeValue(const std::wstring& text) { return Utf8ToWide(Base64Encode(WideToUtf8(text))); }

bool LooksLikeUuid(const std::string& text) {
  static const std::regex kUuid(
      "^\\{?[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}?$");
  return std::regex_match(text, kUuid);
}

// Whatever machine this runs on (Wine reports its own ids), the values must
// be the documented encodings of what the sources hold.
TEST(DeviceIdentity, ValuesAreBase64OfTheFirstSourceThatAnswers) {
  const DeviceIdentity& identity = GetDeviceIdentity();
  const auto wmi = ReadWmiMachineId();
  const auto registry = ReadRegistryMachineId();
  if (wmi) {
    EXPECT_EQ(identity.machineKey, EncodeValue(*wmi));
  } else if (registry) {
    EXPECT_EQ(identity.machineKey, EncodeValue(*registry));
  } else {
    EXPECT_EQ(identity.machineKey, L"");
  }
  if (!identity.machineKey.empty()) {
    EXPECT_TRUE(LooksLikeUuid(DecodeValue(identity.machineKey))) << DecodeValue(identity.machineKey);
  }
  if (registry) {
    EXPECT_TRUE(LooksLikeUuid(WideToUtf8(*registry))) << WideToUtf8(*registry);
  }

  EXPECT_EQ(identity.machineModel, EncodeValue(ReadRegistryMachineModel().value_or(L"Unknown")));
  EXPECT_FALSE(DecodeValue(identity.machineModel).empty());
  EXPECT_EQ(GetMachineKey(), identity.machineKey);
}

// The player asks from its user-interface thread, which is already in a
// single-threaded apartment; the WMI read must not depend on getting its own.
TEST(DeviceIdentity, TheWmiReadGivesTheSameAnswerFromASingleThreadedApartment) {
  std::optional<std::wstring> fromMta;
  std::optional<std::wstring> fromSta;
  std::thread([&] { fromMta = ReadWmiMachineId(); }).join();
  std::thread([&] {
    const ComInitScope sta(COINIT_APARTMENTTHREADED);
    ASSERT_TRUE(SUCCEEDED(sta.result()));
    fromSta = ReadWmiMachineId();
    // The apartment the caller chose is still there afterwards.
    const ComInitScope again(COINIT_APARTMENTTHREADED);
    EXPECT_EQ(again.result(), S_FALSE);
  }).join();
  EXPECT_EQ(fromSta, fromMta);
}

}  // namespace
