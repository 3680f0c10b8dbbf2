// The player's link decoding, on links made with the operator's side.
#include <gtest/gtest.h>

#include "common/Base64.h"
#include "links/LinkEnvelope.h"
#include "links/SchemeLink.h"
#include "tests/links/LinkTestData.h"

namespace {

const std::vector<std::uint8_t>& TestKey() {
  static const auto key = ParseHex("3b7e1f0a9c2d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7").value();
  return key;
}

struct Decoded {
  bool ok = false;
  LinkValues values;
  std::string reason;
};

Decoded Decode(const std::wstring& link, std::span<const std::uint8_t> key = TestKey()) {
  Decoded d;
  d.ok = DecodeSchemeLink(link, key, d.values, d.reason);
  return d;
}

std::wstring Envelope(std::string_view plain) { return Utf8ToWide(MakeLinkEnvelope(plain, TestKey())); }

std::wstring ReplaceAll(std::wstring text, std::wstring_view from, std::wstring_view to) {
  for (std::size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(UrlDecode, ReadsTwoCharactersAfterPercentTheWayAStreamReadsHex) {
  EXPECT_EQ(UrlDecode(L"%2B%2f%3D"), L"+/=");
  EXPECT_EQ(UrlDecode(L"a+b%20c"), L"a+b c");
  EXPECT_EQ(UrlDecode(L"%d8%af"), L"\u062F");
  EXPECT_EQ(UrlDecode(L"%zz%"), L"%zz%") << "no digit to read, then no two characters";
  EXPECT_EQ(UrlDecode(L"x%4"), L"x%4") << "fewer than two characters after the percent";
  EXPECT_EQ(UrlDecode(L"%4g!"), std::wstring(L"\x04!")) << "reading stops at the first non-digit";
  EXPECT_EQ(UrlDecode(L"% 5."), std::wstring(L"\x05.")) << "leading blanks are skipped";
}

// Base64 of the service's ASCII JSON never holds "+" or "/"; an envelope with
// an extra member of "~" and "?" characters (members the player ignores) does,
// as envelopes with other texts in them would.
std::wstring EnvelopeWithEveryBase64Character(std::string_view plain) {
  const auto outer = Base64Decode(MakeLinkEnvelope(plain, TestKey()));
  auto envelope = nlohmann::json::parse(outer.begin(), outer.end());
  envelope["note"] = "~~~???";
  return Utf8ToWide(Base64Encode(envelope.dump()));
}

TEST(DecodeSchemeLink, EveryWrappingTheShellOrABrowserAddsGivesTheSameValues) {
  const std::wstring payload = EnvelopeWithEveryBase64Character("tok-1") + L":" +
                               EnvelopeWithEveryBase64Character("lesson-77") + L":" +
                               EnvelopeWithEveryBase64Character("https://miravell.com");
  ASSERT_NE(payload.find(L'+'), std::wstring::npos);
  ASSERT_NE(payload.find(L'/'), std::wstring::npos);
  const std::wstring forms[] = {
      L"miravell:" + payload,
      L"\"MIRAVELL://" + payload + L"/",
      L"open MiraVell:\\\\" + payload + L"\\/",
      payload,
      L"miravell:" + payload + L":ignored:too",
      ReplaceAll(L"miravell:" + payload, L"+", L" "),
      ReplaceAll(ReplaceAll(ReplaceAll(L"miravell:" + payload, L"+", L"%2B"), L"/", L"%2f"), L"=", L"%3D"),
      L"miravell%3A%2F%2F" + ReplaceAll(payload, L":", L"%3a"),
  };
  for (const auto& link : forms) {
    const Decoded d = Decode(link);
    ASSERT_TRUE(d.ok) << WideToUtf8(link) << " -> " << d.reason;
    EXPECT_EQ(d.values.linkToken, "tok-1");
    EXPECT_EQ(d.values.contentLinkId, "lesson-77");
    EXPECT_EQ(d.values.domain, "https://miravell.com");
    EXPECT_EQ(d.reason, kReasonUnknownError) << "a successful decoding leaves the initial reason";
  }
}

TEST(DecodeSchemeLink, EachFailureLeavesItsReasonCode) {
  const std::wstring e1 = Envelope("tok-1"), e2 = Envelope("lesson-77"), e3 = Envelope("https://miravell.com");
  EXPECT_EQ(Decode(L"miravell:").reason, "split_failed_parts_0");
  EXPECT_EQ(Decode(L"miravell:///").reason, "split_failed_parts_0");
  EXPECT_EQ(Decode(L"miravell:" + e1).reason, "split_failed_parts_1");
  EXPECT_EQ(Decode(L"miravell:" + e1 + L":" + e2 + L"/").reason, "split_failed_parts_2");
  EXPECT_EQ(Decode(L"miravell:" + e1 + L"::" + e3).reason, "exception_Failed to parse AES envelope JSON");
  EXPECT_EQ(Decode(L"miravell:" + e1 + L":" + Envelope("") + L":" + e3).reason, "decrypt_failed_empty_strings");

  const std::vector<std::uint8_t> otherKey(32, 7);
  EXPECT_EQ(Decode(L"miravell:" + e1 + L":" + e2 + L":" + e3, otherKey).reason,
            "exception_MAC verification failed \xE2\x80\x94 data may be tampered");
  // The JSON library's message becomes the reason as it is.
  const std::wstring nullEnvelope = Utf8ToWide(Base64Encode(std::string_view("null")));
  const Decoded typeError = Decode(L"miravell:" + e1 + L":" + e2 + L":" + nullEnvelope);
  EXPECT_FALSE(typeError.ok);
  EXPECT_EQ(typeError.reason.rfind("exception_", 0), 0u) << typeError.reason;
  EXPECT_NE(typeError.reason.find("type must be string, but is null"), std::string::npos) << typeError.reason;
}

}  // namespace
