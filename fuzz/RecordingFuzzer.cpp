// Fuzz target: arbitrary bytes as a recording file. Runs the line reader on
// its own and checks its counts, then replays the file through the replay
// loop Drovik and the tools share.
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "FuzzSupport.h"
#include "RecordingReader.h"
#include "RecordingReplay.h"

namespace {

const fuzzsupport::ScratchFile& scratch() {
  static const fuzzsupport::ScratchFile file("velmora-fuzz-recording");
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The replay prints its verdict; the fuzzer's own log is on stderr.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::perror("fuzz: cannot silence standard output");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using fuzzsupport::check;
  scratch().write(data, size);

  RecordingReader reader;
  check(reader.open(scratch().path().c_str()), "a readable file opens");
  reader.skipHeader();
  int64_t samples = 0;
  SampleRecord sample{};
  for (;;) {
    const RecordingReader::Status status = reader.next(sample);
    if (status == RecordingReader::Status::End) {
      break;
    }
    if (status == RecordingReader::Status::Sample) {
      ++samples;
    }
  }
  check(reader.dataLines() == samples + reader.shortLines(), "every data line is counted once");
  check(reader.firstShortLineNumbers().size() <= static_cast<std::size_t>(reader.shortLines()),
        "no more short line numbers than short lines");
  // A data line cannot be longer than the input, nor can there be more of
  // them than bytes.
  check(reader.dataLines() <= static_cast<int64_t>(size), "data lines bounded by the input size");
  check(describeShortLines(reader).empty() == (reader.shortLines() == 0),
        "the notice appears exactly when lines were skipped");

  // The line parser on its own, over the whole input as one line: it must
  // stop at the input's end, whatever the bytes.
  (void)parseSampleLine(std::string_view(reinterpret_cast<const char*>(data), size), sample);

  // The first four bytes also choose an annotated position, so that the
  // delay is computed for extreme positions too.
  fuzzsupport::InputCursor cursor(data, size);
  const auto fallPosition = static_cast<int32_t>(cursor.word32());
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  int64_t firstDelay = 0;
  bool detected = false;
  const ReplaySummary replayed =
      replayRecording(scratch().path().c_str(), settings, nullptr, [&](const ReplayedSample& s) {
        if (s.code > 0 && !detected) {
          detected = true;
          firstDelay = VelmoraDetectionDelayMs(s.position, fallPosition);
        }
      });
  check(replayed.opened && replayed.dataLines == reader.dataLines(),
        "a readable recording is always replayed, line for line");
  check(!detected || firstDelay % kVelmoraSamplePeriodMs == 0, "delays are whole samples");
  return 0;
}
