#include "Replay.h"

#include <cstdio>

#include "RecordingReplay.h"
#include "Velmora.h"

namespace {

// Verdict messages, CP949-encoded Korean.
// "'%s'의 '%d' 위치(추락감지시간 %dms)에서 추락을 감지했습니다.\n\n"
// (a fall was detected at position N of the file, detection time X ms);
// the delay is printed as a 64-bit value (long long, which %lld takes on
// every toolchain; int64_t is long on some).
constexpr char kDelayMessage[] =
    "'%s'\xc0\xc7 '%d' \xc0\xa7\xc4\xa1(\xc3\xdf\xb6\xf4\xb0\xa8\xc1\xf6\xbd\xc3\xb0\xa3 "
    "%lld"
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

// Positions are printed as Drovik's 32-bit counter shows them, through %d,
// which takes an int (int32_t is long on some embedded toolchains).
int position32(int64_t position) { return static_cast<int32_t>(static_cast<uint32_t>(position)); }

}  // namespace

int32_t ReplayRecording(const char* path, int32_t fallPosition, int32_t fallFlag) {
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  bool detected = false;
  const ReplaySummary summary =
      replayRecording(path, settings, nullptr, [&](const ReplayedSample& replayed) {
        // Only the first detection is reported.
        if (replayed.code <= 0 || detected) {
          return;
        }
        detected = true;
        const int sampleIndex = position32(replayed.position);
        if (fallFlag > 0) {
          std::printf(kDelayMessage, path, sampleIndex,
                      static_cast<long long>(VelmoraDetectionDelayMs(sampleIndex, fallPosition)));
        } else {
          std::printf(kPositionMessage, path, sampleIndex);
        }
      });
  if (summary.settingsRefused) {
    std::printf("VelmoraSet(), failed.\n");
    return -1;
  }
  if (!summary.opened) {
    std::printf("Drovik : %s, not opened.\n\n", path);
    return -1;
  }
  if (!detected) {
    std::printf(kNoFallMessage, path);
  }
  if (!summary.shortLineNotice.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "Drovik: %s: %s\n", path, summary.shortLineNotice.c_str());
  }
  return 0;
}
