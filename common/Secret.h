#pragma once
// Buffers for secrets (the link key, rebuilt configuration secrets) that are
// overwritten before their memory is given back, in a way the optimiser
// cannot drop.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Overwrites the bytes with zero; never optimised away.
void SecureWipe(void* data, std::size_t size) noexcept;

class SecretBytes {
 public:
  SecretBytes() = default;
  explicit SecretBytes(std::size_t size) : bytes_(size, 0) {}
  // Takes the buffer over, so no unwiped copy of the secret stays behind.
  explicit SecretBytes(std::vector<std::uint8_t>&& bytes) noexcept : bytes_(std::move(bytes)) {}
  ~SecretBytes() { Wipe(); }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;
  SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) { other.bytes_.clear(); }
  SecretBytes& operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
      Wipe();
      bytes_ = std::move(other.bytes_);
      other.bytes_.clear();
    }
    return *this;
  }

  // Zeroes every byte and empties the buffer.
  void Wipe() noexcept {
    SecureWipe(bytes_.data(), bytes_.size());
    bytes_.clear();
  }

  [[nodiscard]] std::uint8_t* data() noexcept { return bytes_.data(); }
  [[nodiscard]] const std::uint8_t* data() const noexcept { return bytes_.data(); }
  [[nodiscard]] std::size_t size() const noexcept { return bytes_.size(); }
  [[nodiscard]] bool empty() const noexcept { return bytes_.empty(); }
  std::uint8_t& operator[](std::size_t i) noexcept { return bytes_[i]; }
  const std::uint8_t& operator[](std::size_t i) const noexcept { return bytes_[i]; }
  [[nodiscard]] std::span<const std::uint8_t> span() const noexcept { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A narrow text that is wiped when it goes.
class SecretText {
 public:
  SecretText() = default;
  explicit SecretText(std::string text) : text_(std::move(text)) {}
  ~SecretText() { SecureWipe(text_.data(), text_.size()); }
  SecretText(const SecretText&) = delete;
  SecretText& operator=(const SecretText&) = delete;
  [[nodiscard]] const std::string& str() const noexcept { return text_; }

 private:
  std::string text_;
};
