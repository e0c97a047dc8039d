#include "Replay.h"

#include <cinttypes>
#include <cstdio>

#include "RecordingReader.h"
#include "Velmora.h"

namespace {

constexpr int64_t kSamplePeriodMs = 20;  // 50 samples per second

// Verdict messages, CP949-encoded Korean.
// "'%s'의 '%d' 위치(추락감지시간 %dms)에서 추락을 감지했습니다.\n\n"
// (a fall was detected at position N of the file, detection time X ms);
// the delay is printed as a 64-bit value.
constexpr char kDelayMessage[] =
    "'%s'\xc0\xc7 '%d' \xc0\xa7\xc4\xa1(\xc3\xdf\xb6\xf4\xb0\xa8\xc1\xf6\xbd\xc3\xb0\xa3 "
    "%" PRId64
    "ms)\xbf\xa1\xbc\xad \xc3\xdf\xb6\xf4\xc0\xbb \xb0\xa8\xc1\xf6\xc7\xdf\xbd\xc0"
    "\xb4\xcf\xb4\xd9.\n\n";
// "'%s'의 '%d' 위치에서 추락을 감지했습니다.\n\n" (a fall was detected at position N)
constexpr char kPositionMessage[] =
    "'%s'\xc0\xc7 '%d' \xc0\xa7\xc4\xa1\xbf\xa1\xbc\xad \xc3\xdf\xb6\xf4\xc0\xbb "
    "\xb0\xa8\xc1\xf6\xc7\xdf\xbd\xc0\xb4\xcf\xb4\xd9.\n\n";
// "'%s'에서 추락이 감지되지 않습니다.\n\n" (no fall is detected in the file)
constexpr char kNoFallMessage[] =
    "'%s'\xbf\xa1\xbc\xad \xc3\xdf\xb6\xf4\xc0\xcc \xb0\xa8\xc1\xf6\xb5\xc7\xc1\xf6 "
    "\xbe\xca\xbd\xc0\xb4\xcf\xb4\xd9.\n\n";

}  // namespace

int32_t ReplayRecording(const char* path, int32_t fallPosition, int32_t fallFlag) {
  RecordingReader reader;
  if (!reader.open(path)) {
    std::printf("Drovik : %s, not opened.\n\n", path);
    return -1;
  }
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  DetectorContext context;
  if (VelmoraSet(&context, &settings) < 0) {
    std::printf("VelmoraSet(), failed.\n");
    return -1;
  }
  reader.skipHeader();

  int32_t sampleIndex = 0;
  int32_t detections = 0;
  SampleRecord sample{};
  for (;;) {
    const RecordingReader::Status status = reader.next(sample);
    if (status == RecordingReader::Status::End) {
      break;
    }
    if (status == RecordingReader::Status::Sample && VelmoraProcess(&context, &sample) > 0) {
      if (detections < 2) {
        ++detections;
      }
      if (detections == 1) {
        if (fallFlag > 0) {
          const int64_t delay = (int64_t{sampleIndex} - fallPosition) * kSamplePeriodMs;
          std::printf(kDelayMessage, path, sampleIndex, delay);
        } else {
          std::printf(kPositionMessage, path, sampleIndex);
        }
      }
    }
    // Every line counts as a position, short ones included.
    sampleIndex = static_cast<int32_t>(static_cast<uint32_t>(sampleIndex) + 1);
  }
  VelmoraClose(&context);
  reader.close();
  if (detections == 0) {
    std::printf(kNoFallMessage, path);
  }
  const std::string notice = describeShortLines(reader);
  if (!notice.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "Drovik: %s: %s\n", path, notice.c_str());
  }
  return 0;
}
