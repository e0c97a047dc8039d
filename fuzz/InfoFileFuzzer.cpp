// Fuzz target: arbitrary bytes as an info file, and the same bytes through
// each text utility the info-file and recording readers are built on.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "InfoFile.h"
#include "TextUtils.h"

namespace {

using fuzzsupport::check;

const fuzzsupport::ScratchFile& scratch() {
  static const fuzzsupport::ScratchFile file("velmora-fuzz-info");
  return file;
}

// parseDecimal promises strtoll's result (C locale, base 10) up to the first
// NUL, which is where strtoll stops reading.
void checkDecimal(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  errno = 0;
  const long long expected = std::strtoll(text.c_str(), nullptr, 10);
  check(parseDecimal(text) == expected, "parseDecimal agrees with strtoll");
}

void checkSplit(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    return;
  }
  // The first byte picks how many fields to ask for (0..15).
  const int32_t maxFields = data[0] & 15;
  std::vector<char> line(data + 1, data + size);
  line.push_back('\0');
  // Guard slots on both sides catch a write past maxFields.
  std::vector<char*> fields(static_cast<std::size_t>(maxFields) + 2, nullptr);
  const int32_t count = SplitCsvFields(line.data(), fields.data() + 1, maxFields);
  check(count >= 0 && count <= maxFields, "field count within the limit");
  check(fields.front() == nullptr && fields.back() == nullptr, "no field written out of range");
  const char* begin = line.data();
  const char* end = line.data() + line.size();
  for (int32_t i = 0; i < count; ++i) {
    const char* field = fields[static_cast<std::size_t>(i) + 1];
    check(field >= begin && field < end, "fields point into the line");
    check(std::memchr(field, '\0', static_cast<std::size_t>(end - field)) != nullptr,
          "every field is terminated inside the line");
  }
}

void checkCut(const uint8_t* data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  const std::size_t before = std::strlen(text.data());
  CutAtLineEnd(text.data());
  const std::size_t after = std::strlen(text.data());
  check(after <= before, "cutting never lengthens the text");
  check(std::strpbrk(text.data(), "\r\n") == nullptr, "no line end survives the cut");
}

void checkReadText(std::size_t size) {
  char buffer[64];
  // Every buffer size from 1 to 64: never more than size - 1 bytes, always
  // terminated.
  for (std::size_t capacity = 1; capacity <= sizeof buffer; capacity += 7) {
    std::memset(buffer, 'x', sizeof buffer);
    const int32_t count = ReadTextFile(scratch().path().c_str(), buffer, capacity);
    check(count >= 0, "a readable file reads");
    check(static_cast<std::size_t>(count) == std::min(size, capacity - 1),
          "reads the whole file up to the buffer");
    check(buffer[count] == '\0', "the text is terminated");
    if (capacity < sizeof buffer) {
      check(buffer[capacity] == 'x', "nothing written past the buffer");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  scratch().write(data, size);

  int32_t fallPosition = -1;
  int32_t fallFlag = -1;
  const int32_t status = ReadInfoFile(scratch().path().c_str(), &fallPosition, &fallFlag);
  check(status == 0 || status == -2, "an existing file is read");
  if (status != 0) {
    check(fallPosition == 0 && fallFlag == 0, "a malformed file gives 0 and 0");
  }

  checkDecimal(data, size);
  checkSplit(data, size);
  checkCut(data, size);
  checkReadText(size);
  return 0;
}
