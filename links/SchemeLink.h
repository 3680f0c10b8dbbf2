#pragma once
// The front half of reading a link the shell started the player with: undo
// the browser's and the shell's encodings, find the payload after the scheme,
// split it into its three envelopes and decrypt them. The service is not
// asked anything here.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Secret.h"

// Reason codes left when a link cannot be decoded.
inline constexpr char kReasonUnknownError[] = "unknown_error";
inline constexpr char kReasonSplitFailedPrefix[] = "split_failed_parts_";
inline constexpr char kReasonEmptyValues[] = "decrypt_failed_empty_strings";
inline constexpr char kReasonExceptionPrefix[] = "exception_";
inline constexpr char kReasonUnknownException[] = "unknown_exception";

// The three decrypted values of a link (UTF-8).
struct LinkValues {
  std::string linkToken;
  std::string contentLinkId;
  std::string domain;
};

// Percent-decoding over the UTF-8 bytes: "%" and two characters read as a
// hexadecimal number the way a standard stream reads one; "+" stays as it is.
[[nodiscard]] std::wstring UrlDecode(std::wstring_view text);

// Splits at ":" the way line reading does: consecutive separators give empty
// values, a trailing separator adds none, an empty text gives no values.
[[nodiscard]] std::vector<std::wstring> SplitLink(std::wstring_view text);

// The 32-byte link key of this build, rebuilt from its stored block.
[[nodiscard]] SecretBytes BuildLinkKey();

// Decodes a link with this build's key. True: values holds three non-empty
// plaintexts. False: reason holds the reason code and values is to be
// ignored. The key is wiped on every path.
[[nodiscard]] bool DecodeSchemeLink(std::wstring_view link, LinkValues& values, std::string& reason);

// The same with a key given by the caller (the operator's tool checks links
// issued under another key).
[[nodiscard]] bool DecodeSchemeLink(std::wstring_view link, std::span<const std::uint8_t> linkKey, LinkValues& values,
                                    std::string& reason);

// A link of this program's scheme carrying the three values, each in a new
// envelope under the key (the operator's side of DecodeSchemeLink).
[[nodiscard]] std::wstring MakeSchemeLink(const LinkValues& values, std::span<const std::uint8_t> linkKey,
                                          bool withMac = true);
