// Fuzz target: the detector over an arbitrary sample stream with arbitrary
// settings. Input layout: 35 little-endian 32-bit settings, one byte of
// options, then 12 bytes per sample (six little-endian 16-bit counts).
//
// Checked on every sample: the code is 0 or one of kVelmoraFallCodes, ringPos
// equals sampleIndex AND 63, and three runs of the same stream agree: one
// with the trace off, one interleaved with it sample by sample with the
// trace on, and one afterwards through VelmoraProcessObserved.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

#include "FuzzSupport.h"
#include "Velmora.h"
#include "VelmoraObservation.h"

namespace {

using fuzzsupport::check;

constexpr int kSettingCount = sizeof(DetectorSettings) / sizeof(int32_t);

std::FILE* traceSink() {
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  return sink;
}

bool isResultCode(int32_t code) {
  return code == 0 ||
         std::find(std::begin(kVelmoraFallCodes), std::end(kVelmoraFallCodes), code) != std::end(kVelmoraFallCodes);
}

void checkState(const DetectorContext& context) {
  check(context.ringPos == (context.sampleIndex & (kVelmoraRingSize - 1)),
        "ringPos equals sampleIndex AND 63");
}

// Settings from the input, one int32 per field in declaration order.
DetectorSettings readSettings(fuzzsupport::InputCursor& cursor) {
  int32_t values[kSettingCount];
  for (int32_t& value : values) {
    value = static_cast<int32_t>(cursor.word32());
  }
  DetectorSettings settings;
  static_assert(sizeof values == sizeof settings);
  std::memcpy(&settings, values, sizeof settings);
  return settings;
}

// VelmoraSet refuses an avgWindow outside 1..63 without touching the
// context; the window is then folded into range so the stream still runs.
void checkRefusal(DetectorSettings& settings) {
  if (settings.avgWindow >= 1 && settings.avgWindow <= kVelmoraRingSize - 1) {
    return;
  }
  DetectorContext context;
  std::memset(static_cast<void*>(&context), 0xA5, sizeof context);
  DetectorContext untouched;
  std::memcpy(static_cast<void*>(&untouched), &context, sizeof context);
  check(VelmoraSet(&context, &settings) == -1, "VelmoraSet refuses avgWindow outside 1..63");
  check(std::memcmp(&context, &untouched, sizeof context) == 0,
        "a refused set-up leaves the context alone");
  settings.avgWindow = static_cast<int32_t>(static_cast<uint32_t>(settings.avgWindow) % 63 + 1);
}

#ifdef VELMORA_FUZZ_INDEX_WRAP
// Option bit 0: start the stream just before sampleIndex wraps, as a
// recording of about 500 days would. The rings are indexed by ringPos, which
// moves with the index.
void skipAhead(DetectorContext& context, uint8_t options) {
  if ((options & 1) == 0) {
    return;
  }
  context.sampleIndex = std::numeric_limits<int32_t>::max() - (options >> 1);
  context.ringPos = context.sampleIndex & (kVelmoraRingSize - 1);
}
#else
void skipAhead(DetectorContext&, uint8_t) {}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  fuzzsupport::InputCursor cursor(data, size);
  DetectorSettings settings = readSettings(cursor);
  checkRefusal(settings);
  const uint8_t options = cursor.byte();

  std::vector<SampleRecord> stream(cursor.remaining() / 12);
  for (SampleRecord& sample : stream) {
    sample =
        SampleRecord{static_cast<int16_t>(cursor.word16()), static_cast<int16_t>(cursor.word16()),
                     static_cast<int16_t>(cursor.word16()), static_cast<int16_t>(cursor.word16()),
                     static_cast<int16_t>(cursor.word16()), static_cast<int16_t>(cursor.word16())};
  }

  DetectorContext plain;
  DetectorContext traced;
  check(VelmoraSet(&plain, &settings) == 0, "settings with avgWindow in 1..63 are accepted");
  check(VelmoraSet(&traced, &settings) == 0, "settings with avgWindow in 1..63 are accepted");
  skipAhead(plain, options);
  skipAhead(traced, options);

  std::vector<int32_t> codes;
  codes.reserve(stream.size());
  for (const SampleRecord& sample : stream) {
    traceStream = nullptr;
    const int32_t code = VelmoraProcess(&plain, &sample);
    traceStream = traceSink();
    const int32_t tracedCode = VelmoraProcess(&traced, &sample);
    traceStream = nullptr;
    check(isResultCode(code), "only 0 or one of the 21 codes");
    check(code == tracedCode, "the trace does not change the codes");
    checkState(plain);
    checkState(traced);
    codes.push_back(code);
  }
  VelmoraClose(&plain);
  VelmoraClose(&traced);

  // The same stream again on a context set up afresh gives the same codes.
  DetectorContext again;
  check(VelmoraSet(&again, &settings) == 0, "a second set-up is accepted");
  skipAhead(again, options);
  for (std::size_t i = 0; i < stream.size(); ++i) {
    VelmoraObservation inspection{};
    check(VelmoraProcessObserved(&again, &stream[i], &inspection) == codes[i],
          "a second run gives the same codes");
    check(inspection.postureFlag == 'O' || inspection.postureFlag == 'X',
          "the posture flag is O or X");
    checkState(again);
  }
  VelmoraClose(&again);
  return 0;
}
