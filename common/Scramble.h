#pragma once
// Constants kept scrambled in the binary: one key byte, then the data bytes,
// stored byte i being data byte i XOR i XOR the key. Scrambling happens at
// compile time (consteval), so the plain text is never emitted; the text is
// rebuilt in a local buffer where it is used.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/Text.h"

namespace scramble {

// Chooses a non-zero key byte from the text and a salt, so equal texts in
// different places do not share a key.
consteval std::uint8_t KeyFor(const char* text, std::size_t length, std::uint32_t salt) {
  std::uint32_t hash = 2166136261u ^ (salt * 0x9E3779B9u);
  for (std::size_t i = 0; i < length; ++i) {
    hash ^= static_cast<std::uint8_t>(text[i]);
    hash *= 16777619u;
  }
  const auto key = static_cast<std::uint8_t>((hash >> 24) ^ (hash >> 8) ^ hash);
  return key == 0 ? std::uint8_t{0xA5} : key;
}

// Scrambles data byte i with the key and the position.
constexpr std::uint8_t Mix(std::uint8_t data, std::size_t index, std::uint8_t key) {
  return static_cast<std::uint8_t>(data ^ static_cast<std::uint8_t>(index) ^ key);
}

consteval int HexDigit(char c) {
  const int value = HexDigitValue(c);
  if (value < 0) throw "not a hexadecimal digit";  // ends constant evaluation: a build error
  return value;
}

// A scrambled text of N data bytes (the terminating zero of the literal is
// not stored).
template <std::size_t N>
struct Text {
  std::array<std::uint8_t, N + 1> stored{};

  consteval Text(const char (&text)[N + 1], std::uint32_t salt) {
    const std::uint8_t key = KeyFor(text, N, salt);
    stored[0] = key;
    for (std::size_t i = 0; i < N; ++i) stored[i + 1] = Mix(static_cast<std::uint8_t>(text[i]), i, key);
  }
  [[nodiscard]] constexpr std::span<const std::uint8_t> bytes() const { return stored; }
};

// A scrambled binary value given as hexadecimal text (2N digits).
template <std::size_t N>
struct Hex {
  std::array<std::uint8_t, N + 1> stored{};

  template <std::size_t Digits>
  consteval Hex(const char (&hex)[Digits], std::uint32_t salt) {
    static_assert(Digits - 1 == 2 * N, "hex text must hold 2 digits per byte");
    const std::uint8_t key = KeyFor(hex, Digits - 1, salt);
    stored[0] = key;
    for (std::size_t i = 0; i < N; ++i) {
      const auto value = static_cast<std::uint8_t>(HexDigit(hex[2 * i]) * 16 + HexDigit(hex[2 * i + 1]));
      stored[i + 1] = Mix(value, i, key);
    }
  }
  [[nodiscard]] constexpr std::span<const std::uint8_t> bytes() const { return stored; }
};

template <std::size_t M>
Text(const char (&)[M], std::uint32_t) -> Text<M - 1>;

// Rebuilds data byte i of a stored value (key byte first).
inline std::uint8_t Unmix(std::span<const std::uint8_t> stored, std::size_t index) {
  return Mix(stored[index + 1], index, stored[0]);
}

}  // namespace scramble
