#pragma once
// SHA-256 through CNG, plain or keyed (HMAC): the link's MAC and the
// certificate pins are both made with it.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The step of the computation that failed, for callers that tell them apart.
enum class HashFailure { None, Open, Create, Data, Finish };

struct HashResult {
  std::vector<std::uint8_t> digest;  // empty when a step failed
  HashFailure failure = HashFailure::None;
};

// SHA-256 of data, or HMAC-SHA256 of data under hmacKey when one is given.
[[nodiscard]] HashResult Sha256(std::span<const std::uint8_t> data,
                                std::optional<std::span<const std::uint8_t>> hmacKey = std::nullopt);
