// SHA-256: the fingerprint of a recording file, so that a settings file can
// say which recordings it was tuned on and anyone can check one with
// `sha256sum`.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::evaluation {

class Sha256 {
 public:
  Sha256();
  void add(const void* data, std::size_t size);
  void add(std::string_view text) { add(text.data(), text.size()); }
  // The digest as 64 lowercase hexadecimal digits. Ends the hashing: add()
  // after it starts a new, unrelated digest only after a fresh Sha256.
  [[nodiscard]] std::string hexDigest();

 private:
  void compressBlock(const unsigned char* block);

  std::array<uint32_t, 8> state_;
  std::array<unsigned char, 64> buffer_{};
  std::size_t buffered_ = 0;  // bytes waiting in buffer_
  uint64_t length_ = 0;       // bytes added in all
};

}  // namespace velmora::evaluation
