// The replay path: the recording reader alone (lines per second) and a
// Drovik-style replay of a long recording end to end (samples per second),
// both on a file written to a scratch folder once per run.
#include <benchmark/benchmark.h>

#include <string>

#include "AllocationCounter.h"
#include "BenchStreams.h"
#include "RecordingReader.h"
#include "RecordingReplay.h"
#include "Velmora.h"

namespace {

// At least 400,000 samples (over two hours at 50 Hz), as the end-to-end
// script uses.
constexpr int64_t kLongRecordingSamples = 400000;

struct LongRecording {
  LongRecording() {
    const auto stream = benchsupport::loadBenchStream();
    path = (folder.path() / "long.csv").string();
    benchsupport::writeRecording(path, stream.samples, kLongRecordingSamples);
    source = stream.source;
  }

  benchsupport::ScratchDir folder;
  std::string path;
  std::string source;
};

// Written on first use and removed when the program ends.
const LongRecording& longRecording() {
  static const LongRecording recording;
  return recording;
}

// Open, skip the header and split every line into a sample; no detector.
void BM_RecordingReader(benchmark::State& state) {
  const LongRecording& recording = longRecording();
  int64_t lines = 0;
  uint64_t perLineAllocations = 0;
  for (auto _ : state) {
    RecordingReader reader;
    if (!reader.open(recording.path.c_str())) {
      state.SkipWithError("cannot open the long recording");
      return;
    }
    reader.skipHeader();
    SampleRecord sample{};
    const uint64_t before = benchsupport::allocationCount();
    while (reader.next(sample) != RecordingReader::Status::End) {
      benchmark::DoNotOptimize(sample);
    }
    perLineAllocations += benchsupport::allocationCount() - before;
    lines += reader.dataLines();
  }
  state.SetItemsProcessed(lines);
  state.counters["lines"] = static_cast<double>(lines) / static_cast<double>(state.iterations());
  state.counters["allocs/line"] =
      static_cast<double>(perLineAllocations) / static_cast<double>(lines > 0 ? lines : 1);
}
BENCHMARK(BM_RecordingReader)->Unit(benchmark::kMillisecond);

// The whole replay as Drovik runs it (reader, fresh detector, every sample),
// without the verdict printing.
void BM_ReplayLongRecording(benchmark::State& state) {
  const LongRecording& recording = longRecording();
  DetectorSettings settings;
  VelmoraDefaultSettings(&settings);
  int64_t samples = 0;
  for (auto _ : state) {
    const ReplaySummary summary =
        replayRecording(recording.path.c_str(), settings, nullptr, [](const ReplayedSample&) {});
    if (!summary.opened) {
      state.SkipWithError("cannot replay the long recording");
      return;
    }
    samples += summary.dataLines;
  }
  state.SetItemsProcessed(samples);
  state.SetLabel(recording.source);
}
BENCHMARK(BM_ReplayLongRecording)->Unit(benchmark::kMillisecond);

}  // namespace
