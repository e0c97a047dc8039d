// Sample streams and recording files for the benchmarks and checks.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "Velmora.h"

namespace benchsupport {

// Deterministic synthetic wear: `walkSeconds` of walking upright, a forward
// fall (a stumble, a free-fall dip, an impact while turning face down), then
// `lieSeconds` lying still face down. Raw counts as a 50 Hz recording holds
// them: 8192 counts per g, 65.536 counts per deg/s, upright reads y = -1 g.
[[nodiscard]] std::vector<SampleRecord> makeActivityStream(int walkSeconds, int lieSeconds);

struct BenchStream {
  std::vector<SampleRecord> samples;
  std::string source;  // where the samples came from, for benchmark labels
};

// The stream the detector benchmarks replay: the shared fall recording of a
// slip while walking, ending lying down (F01_SA01_R01), when the shared
// folder is present next to the repository; else the synthetic stream.
[[nodiscard]] BenchStream loadBenchStream();

// The samples of a recording file, short lines left out.
[[nodiscard]] std::vector<SampleRecord> readRecordingSamples(const std::filesystem::path& path);

// Writes a recording: seven header lines, then `count` data lines
// "index,ax,ay,az,gx,gy,gz" cycling through `samples`.
void writeRecording(const std::filesystem::path& path, const std::vector<SampleRecord>& samples,
                    int64_t count);

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace benchsupport
