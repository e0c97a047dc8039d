#include "InfoFile.h"

#include "TextUtils.h"

namespace {

constexpr int kInfoBufferSize = 1024;  // only the first 1023 bytes count

// Keeps the low 32 bits, as the integer fields of the file are 32-bit.
int32_t lowWord(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

}  // namespace

int32_t ReadInfoFile(const char* path, int32_t* fallPosition, int32_t* fallFlag) {
  *fallPosition = 0;
  *fallFlag = 0;
  char buffer[kInfoBufferSize];
  if (ReadTextFile(path, buffer, sizeof buffer) < 0) {
    return -1;
  }
  CutAtLineEnd(buffer);
  char* fields[3];
  if (SplitCsvFields(buffer, fields, 3) != 3) {
    return -2;
  }
  *fallPosition = lowWord(parseDecimal(fields[1]));
  *fallFlag = lowWord(parseDecimal(fields[2]));
  return 0;
}
