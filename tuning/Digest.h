// FNV-1a, 64 bits: a stable digest of the data and choices of a run, so
// that the parts of one run recognise each other on any machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

class Digest {
 public:
  void add(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) {
      hash_ = (hash_ ^ bytes[i]) * 0x100000001b3ULL;
    }
  }
  // Little-endian, whatever the machine.
  void add(int64_t value) {
    unsigned char bytes[8];
    for (int i = 0; i < 8; ++i) {
      bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
    }
    add(bytes, sizeof bytes);
  }
  void add(std::string_view text) {
    add(static_cast<int64_t>(text.size()));
    add(text.data(), text.size());
  }
  [[nodiscard]] uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ULL;
};
