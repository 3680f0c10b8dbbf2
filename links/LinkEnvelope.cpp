#include "links/LinkEnvelope.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>
#include <stdexcept>

#include "common/Base64.h"
#include "common/CngInput.h"
#include "common/Handles.h"
#include "common/Json.h"
#include "common/Sha256.h"
#include "common/Text.h"

namespace {

[[noreturn]] void Fail(const char* message) { throw std::runtime_error(message); }

bool Succeeded(NTSTATUS status) { return BCRYPT_SUCCESS(status); }

// CNG takes byte counts as ULONG; a larger buffer fails the step it was meant for.
ULONG ByteCount(std::size_t size, const char* failure) {
  if (size > ULONG_MAX) Fail(failure);
  return static_cast<ULONG>(size);
}

std::span<const std::uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string LowerHex(std::span<const std::uint8_t> bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) AppendHexByte(hex, b, HexCase::Lower);
  return hex;
}

// An AES key in CBC mode. The key is declared after its provider so it is
// destroyed first.
struct CbcKey {
  UniqueAlgorithm algorithm;
  UniqueCryptKey key;
};

CbcKey OpenCbcKey(std::span<const std::uint8_t> keyBytes) {
  CbcKey cbc;
  if (!Succeeded(::BCryptOpenAlgorithmProvider(cbc.algorithm.put(), BCRYPT_AES_ALGORITHM, nullptr, 0))) {
    Fail(kAesOpenError);
  }
  static const wchar_t kCbc[] = BCRYPT_CHAIN_MODE_CBC;
  if (!Succeeded(::BCryptSetProperty(cbc.algorithm.get(), BCRYPT_CHAINING_MODE,
                                     reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(kCbc)), sizeof(kCbc), 0))) {
    Fail(kAesCbcModeError);
  }
  // AES has three key sizes. Wine's CNG takes other lengths too (cutting or
  // padding them), where Windows refuses them at this step.
  const std::size_t size = keyBytes.size();
  if ((size != 16 && size != 24 && size != 32) ||
      !Succeeded(::BCryptGenerateSymmetricKey(cbc.algorithm.get(), cbc.key.put(), nullptr, 0,
                                              const_cast<PUCHAR>(keyBytes.data()),
                                              ByteCount(keyBytes.size(), kAesKeyError), 0))) {
    Fail(kAesKeyError);
  }
  return cbc;
}

// Checks and strips PKCS#7 padding without branching on the padding bytes, so
// the time taken says nothing about where a forged block went wrong.
bool StripPkcs7(std::vector<std::uint8_t>& plain) {
  if (plain.size() < kAesBlockSize || plain.size() % kAesBlockSize != 0) return false;
  const std::size_t n = plain.size();
  const unsigned pad = plain[n - 1];
  unsigned bad = static_cast<unsigned>(pad == 0) | static_cast<unsigned>(pad > kAesBlockSize);
  for (unsigned i = 1; i <= kAesBlockSize; ++i) {
    const unsigned inPadding = static_cast<unsigned>(i <= pad);
    bad |= inPadding & static_cast<unsigned>((plain[n - i] ^ pad) != 0);
  }
  if (bad != 0) return false;
  plain.resize(n - pad);
  return true;
}

unsigned FoldAsciiCase(unsigned char c) {
  const unsigned upper = static_cast<unsigned>(static_cast<unsigned>(c - 'A') <= static_cast<unsigned>('Z' - 'A'));
  return static_cast<unsigned>(c) + upper * 32u;
}

// Whether a "mac" text matches the code computed for the two Base64 texts as
// written. The whole length is compared in constant time, hex letters in
// either case, so the time taken does not tell a forger how much was right.
bool LinkMacMatches(std::string_view ivText, std::string_view valueText, std::string_view macText,
                    std::span<const std::uint8_t> linkKey) {
  std::string signedText;
  signedText.reserve(ivText.size() + valueText.size());
  signedText.append(ivText).append(valueText);
  const std::string expected = LowerHex(HmacSha256(signedText, linkKey));
  // The length is no secret; the content is compared in full whatever it holds.
  if (macText.size() != expected.size()) return false;
  unsigned difference = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    difference |= FoldAsciiCase(static_cast<unsigned char>(macText[i])) ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}

}  // namespace

std::vector<std::uint8_t> AesCbcDecrypt(std::span<const std::uint8_t> ciphertext, std::span<const std::uint8_t> key,
                                        std::span<const std::uint8_t> iv) {
  CbcKey cbc = OpenCbcKey(key);
  // CNG overwrites the IV buffer with the chaining state.
  std::vector<std::uint8_t> chain(iv.begin(), iv.end());

  // Wine's CNG pads or cuts an IV of the wrong length where Windows refuses
  // it, and an empty input has no padding block to remove: both fail here, at
  // the size query, on every platform.
  if (iv.size() != kAesBlockSize || ciphertext.empty() || ciphertext.size() % kAesBlockSize != 0) {
    Fail(kAesSizeQueryError);
  }
  // The padding is removed by StripPkcs7 rather than by BCRYPT_BLOCK_PADDING:
  // Wine's CNG only looks at the last byte and lets malformed padding through.
  ULONG size = 0;
  if (!Succeeded(::BCryptDecrypt(cbc.key.get(), CngInput(ciphertext), ByteCount(ciphertext.size(), kAesSizeQueryError),
                                 nullptr, chain.data(), static_cast<ULONG>(chain.size()), nullptr, 0, &size, 0))) {
    Fail(kAesSizeQueryError);
  }
  std::vector<std::uint8_t> plain(size);
  chain.assign(iv.begin(), iv.end());
  ULONG written = 0;
  const NTSTATUS status =
      ::BCryptDecrypt(cbc.key.get(), CngInput(ciphertext), static_cast<ULONG>(ciphertext.size()), nullptr, chain.data(),
                      static_cast<ULONG>(chain.size()), plain.data(), size, &written, 0);
  if (!Succeeded(status)) Fail(kAesDecryptError);
  plain.resize(written);
  if (!StripPkcs7(plain)) Fail(kAesDecryptError);
  return plain;
}

std::vector<std::uint8_t> AesCbcEncrypt(std::span<const std::uint8_t> plaintext, std::span<const std::uint8_t> key,
                                        std::span<const std::uint8_t> iv) {
  CbcKey cbc = OpenCbcKey(key);
  if (iv.size() != kAesBlockSize) Fail(kAesEncryptError);
  std::vector<std::uint8_t> chain(iv.begin(), iv.end());
  // Padded here for the same reason the decryption strips it itself: one
  // PKCS#7 implementation on every platform.
  const std::size_t pad = kAesBlockSize - plaintext.size() % kAesBlockSize;
  std::vector<std::uint8_t> block(plaintext.begin(), plaintext.end());
  block.insert(block.end(), pad, static_cast<std::uint8_t>(pad));
  std::vector<std::uint8_t> cipher(block.size());
  ULONG written = 0;
  if (!Succeeded(::BCryptEncrypt(cbc.key.get(), block.data(), ByteCount(block.size(), kAesEncryptError), nullptr,
                                 chain.data(), static_cast<ULONG>(chain.size()), cipher.data(),
                                 static_cast<ULONG>(cipher.size()), &written, 0))) {
    Fail(kAesEncryptError);
  }
  cipher.resize(written);
  return cipher;
}

std::vector<std::uint8_t> HmacSha256(std::span<const std::uint8_t> data, std::span<const std::uint8_t> key) {
  HashResult result = Sha256(data, key);
  switch (result.failure) {
    case HashFailure::None:
      return std::move(result.digest);
    case HashFailure::Open:
      Fail(kHmacOpenError);
    case HashFailure::Create:
      Fail(kHmacCreateError);
    case HashFailure::Data:
      Fail(kHmacDataError);
    case HashFailure::Finish:
      break;
  }
  Fail(kHmacFinishError);
}

std::vector<std::uint8_t> HmacSha256(std::string_view data, std::span<const std::uint8_t> key) {
  return HmacSha256(BytesOf(data), key);
}

std::string DecryptLinkEnvelope(std::string_view envelopeText, std::span<const std::uint8_t> linkKey) {
  const std::vector<std::uint8_t> outer = Base64Decode(envelopeText);
  auto parsed = TryParseJson(std::string_view(reinterpret_cast<const char*>(outer.data()), outer.size()));
  if (!parsed) Fail(kEnvelopeJsonError);
  nlohmann::json& envelope = *parsed;

  // The inserting subscript and the string conversion are meant: a missing,
  // null or non-string member (or an envelope that is no object) surfaces as
  // the JSON library's own type error.
  const std::string ivText = envelope["iv"].get<std::string>();
  const std::string valueText = envelope["value"].get<std::string>();
  std::string macText;
  if (envelope.is_object() && envelope.contains("mac")) macText = envelope["mac"].get<std::string>();

  // Envelopes without a code are still issued, so an absent or empty "mac"
  // means no authentication rather than a failure.
  if (!macText.empty() && !LinkMacMatches(ivText, valueText, macText, linkKey)) Fail(kMacMismatchError);

  const std::vector<std::uint8_t> iv = Base64Decode(ivText);
  const std::vector<std::uint8_t> ciphertext = Base64Decode(valueText);
  const std::vector<std::uint8_t> plain = AesCbcDecrypt(ciphertext, linkKey, iv);
  return std::string(plain.begin(), plain.end());
}

std::vector<std::uint8_t> RandomBytes(std::size_t count) {
  std::vector<std::uint8_t> bytes(count);
  if (count != 0 && !Succeeded(::BCryptGenRandom(nullptr, bytes.data(), ByteCount(count, kRandomError),
                                                 BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    Fail(kRandomError);
  }
  return bytes;
}

std::string MakeLinkEnvelope(std::string_view plaintext, std::span<const std::uint8_t> linkKey, bool withMac) {
  const std::vector<std::uint8_t> iv = RandomBytes(kAesBlockSize);
  const std::vector<std::uint8_t> ciphertext = AesCbcEncrypt(BytesOf(plaintext), linkKey, iv);
  nlohmann::json envelope = nlohmann::json::object();
  envelope["iv"] = Base64Encode(iv);
  envelope["value"] = Base64Encode(ciphertext);
  if (withMac) {
    const std::string signedText = envelope["iv"].get<std::string>() + envelope["value"].get<std::string>();
    envelope["mac"] = LowerHex(HmacSha256(signedText, linkKey));
  }
  return Base64Encode(envelope.dump());
}
