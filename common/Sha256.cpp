#include "common/Sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <climits>

#include "common/CngInput.h"
#include "common/Handles.h"

namespace {

HashResult Failed(HashFailure step) { return HashResult{{}, step}; }

}  // namespace

HashResult Sha256(std::span<const std::uint8_t> data, std::optional<std::span<const std::uint8_t>> hmacKey) {
  UniqueAlgorithm algorithm;
  if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    hmacKey ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0))) {
    return Failed(HashFailure::Open);
  }
  DWORD digestLength = 0;
  ULONG read = 0;
  if (!BCRYPT_SUCCESS(::BCryptGetProperty(algorithm.get(), BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&digestLength),
                                          sizeof(digestLength), &read, 0))) {
    digestLength = 0;  // the finish step then fails
  }
  // CNG takes byte counts as ULONG; a larger buffer fails the step it was meant for.
  if (hmacKey && hmacKey->size() > ULONG_MAX) return Failed(HashFailure::Create);
  UniqueHash hash;
  if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0,
                                         hmacKey ? CngInput(*hmacKey) : nullptr,
                                         hmacKey ? static_cast<ULONG>(hmacKey->size()) : 0, 0))) {
    return Failed(HashFailure::Create);
  }
  if (data.size() > ULONG_MAX ||
      !BCRYPT_SUCCESS(::BCryptHashData(hash.get(), CngInput(data), static_cast<ULONG>(data.size()), 0))) {
    return Failed(HashFailure::Data);
  }
  HashResult result;
  result.digest.resize(digestLength);
  if (digestLength == 0 || !BCRYPT_SUCCESS(::BCryptFinishHash(hash.get(), result.digest.data(), digestLength, 0))) {
    return Failed(HashFailure::Finish);
  }
  return result;
}
