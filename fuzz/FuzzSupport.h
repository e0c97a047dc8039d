// Small pieces the fuzz harnesses share: a scratch file for the readers that
// take a path, and a cursor that hands out fixed-size values from the input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

namespace fuzzsupport {

// One temporary file per process, rewritten for every input and removed at
// exit. The readers under test open files by name, so the bytes have to
// reach the file system; the temporary folder keeps that cheap.
class ScratchFile {
 public:
  explicit ScratchFile(const char* stem) {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    const int descriptor = mkstemp(pattern.data());
    if (descriptor < 0) {
      std::perror("fuzz: cannot create a scratch file");
      std::abort();
    }
    ::close(descriptor);
    path_ = pattern;
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  // Replaces the file's content with the bytes.
  void write(const uint8_t* data, std::size_t size) const {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) ||
        std::fclose(file) != 0) {
      std::perror("fuzz: cannot write the scratch file");
      std::abort();
    }
  }

  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Reads little-endian values off the front of the input; once it is used up
// every value reads as zero, so any input length is valid.
class InputCursor {
 public:
  InputCursor(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  [[nodiscard]] uint8_t byte() {
    if (size_ == 0) {
      return 0;
    }
    --size_;
    return *data_++;
  }
  [[nodiscard]] uint16_t word16() {
    const uint16_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
  }
  [[nodiscard]] uint32_t word32() {
    const uint32_t low = word16();
    return low | uint32_t{word16()} << 16;
  }
  [[nodiscard]] std::size_t remaining() const { return size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
};

// A broken property: report it the way a sanitizer reports a fault, so the
// fuzzer keeps the input as a crash.
[[noreturn]] inline void fail(const char* what) {
  std::fprintf(stderr, "fuzz: property violated: %s\n", what);
  std::abort();
}

inline void check(bool holds, const char* what) {
  if (!holds) {
    fail(what);
  }
}

}  // namespace fuzzsupport
