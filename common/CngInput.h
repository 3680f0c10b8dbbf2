#pragma once
// CNG's input pointers are not const-qualified although it never writes them;
// an empty span may carry a null pointer, which some calls refuse even with a
// zero length.
#include <windows.h>

#include <cstdint>
#include <span>

inline PUCHAR CngInput(std::span<const std::uint8_t> bytes) noexcept {
  static std::uint8_t none = 0;
  return bytes.empty() ? &none : const_cast<PUCHAR>(bytes.data());
}
