#pragma once
// The encrypted envelopes a link carries: Base64 of a JSON object holding the
// IV ("iv"), the AES-256-CBC ciphertext ("value") and, optionally, an
// HMAC-SHA256 code over the two Base64 texts ("mac"). All cryptography goes
// through CNG; the same 32-byte link key serves AES and HMAC.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Failure texts; callers turn them into reason codes, so they are fixed.
inline constexpr char kEnvelopeJsonError[] = "Failed to parse AES envelope JSON";
inline constexpr char kMacMismatchError[] = "MAC verification failed \xE2\x80\x94 data may be tampered";
inline constexpr char kAesOpenError[] = "BCryptOpenAlgorithmProvider failed";
inline constexpr char kAesCbcModeError[] = "BCryptSetProperty CBC failed";
inline constexpr char kAesKeyError[] = "BCryptGenerateSymmetricKey failed";
inline constexpr char kAesSizeQueryError[] = "BCryptDecrypt (size query) failed";
inline constexpr char kAesDecryptError[] = "BCryptDecrypt failed";
inline constexpr char kHmacOpenError[] = "BCryptOpenAlgorithmProvider HMAC failed";
inline constexpr char kHmacCreateError[] = "BCryptCreateHash failed";
inline constexpr char kHmacDataError[] = "BCryptHashData failed";
inline constexpr char kHmacFinishError[] = "BCryptFinishHash failed";
inline constexpr char kAesEncryptError[] = "BCryptEncrypt failed";
inline constexpr char kRandomError[] = "BCryptGenRandom failed";

// AES block and IV size in bytes.
inline constexpr std::size_t kAesBlockSize = 16;

// Turns one envelope text into its plaintext. Throws std::runtime_error with
// one of the texts above, or lets the JSON library's type error through when
// "iv" or "value" is missing or not a string; never returns a partial result.
[[nodiscard]] std::string DecryptLinkEnvelope(std::string_view envelopeText, std::span<const std::uint8_t> linkKey);

// AES-CBC decryption with PKCS#7 padding removed. Throws on failure.
[[nodiscard]] std::vector<std::uint8_t> AesCbcDecrypt(std::span<const std::uint8_t> ciphertext,
                                                      std::span<const std::uint8_t> key,
                                                      std::span<const std::uint8_t> iv);

// HMAC-SHA256 of the data under the key: the 32-byte digest. Throws on failure.
[[nodiscard]] std::vector<std::uint8_t> HmacSha256(std::span<const std::uint8_t> data,
                                                   std::span<const std::uint8_t> key);
[[nodiscard]] std::vector<std::uint8_t> HmacSha256(std::string_view data, std::span<const std::uint8_t> key);

// The operator's side, used by the link tool to issue links.

// AES-CBC encryption with PKCS#7 padding. Throws on failure.
[[nodiscard]] std::vector<std::uint8_t> AesCbcEncrypt(std::span<const std::uint8_t> plaintext,
                                                      std::span<const std::uint8_t> key,
                                                      std::span<const std::uint8_t> iv);

// Bytes from the system's preferred random generator. Throws on failure.
[[nodiscard]] std::vector<std::uint8_t> RandomBytes(std::size_t count);

// A new envelope text for the plaintext under a fresh random IV, with its
// "mac" unless withMac is false.
[[nodiscard]] std::string MakeLinkEnvelope(std::string_view plaintext, std::span<const std::uint8_t> linkKey,
                                           bool withMac = true);
