#include "BenchStreams.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "RecordingReader.h"
#include "RecordingWriter.h"

namespace benchsupport {
namespace {

constexpr double kSampleRate = kVelmoraSamplesPerSecond;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kDegrees = 3.141592653589793 / 180.0;

int16_t toCounts(double value, double scale) {
  return static_cast<int16_t>(std::clamp(std::lround(value * scale), -32768L, 32767L));
}

// Collects samples given in g and deg/s, with a little sensor noise.
class StreamBuilder {
 public:
  void add(double ax, double ay, double az, double gx, double gy, double gz) {
    samples_.push_back(SampleRecord{
        toCounts(ax + accNoise(), kVelmoraCountsPerG), toCounts(ay + accNoise(), kVelmoraCountsPerG),
        toCounts(az + accNoise(), kVelmoraCountsPerG), toCounts(gx + gyroNoise(), kVelmoraCountsPerDps),
        toCounts(gy + gyroNoise(), kVelmoraCountsPerDps), toCounts(gz + gyroNoise(), kVelmoraCountsPerDps)});
  }
  [[nodiscard]] std::vector<SampleRecord> take() { return std::move(samples_); }

 private:
  double accNoise() { return std::uniform_real_distribution<double>(-0.01, 0.01)(random_); }
  double gyroNoise() { return std::uniform_real_distribution<double>(-1.0, 1.0)(random_); }

  std::minstd_rand random_{20240607};
  std::vector<SampleRecord> samples_;
};

}  // namespace

std::vector<SampleRecord> makeActivityStream(int walkSeconds, int lieSeconds) {
  StreamBuilder stream;
  const int walkSamples = static_cast<int>(walkSeconds * kSampleRate);
  for (int i = 0; i < walkSamples; ++i) {
    // About one stride per second: two vertical bounces, one sway each way.
    const double t = i / kSampleRate;
    const double stride = kTwoPi * t;
    stream.add(0.06 * std::sin(stride), -1.0 + 0.25 * std::sin(2.0 * stride),
               0.1 * std::sin(stride + 0.5), 15.0 * std::sin(stride), 8.0 * std::sin(2.0 * stride),
               20.0 * std::sin(stride + 0.5));
  }
  // The stumble: a forward jolt for 0.3 s.
  for (int i = 0; i < 15; ++i) {
    stream.add(0.05, -1.0 + 0.2 * std::sin(i * 0.4), 0.5, 40.0, 5.0, 10.0);
  }
  // Falling: the body turns 90 degrees about x (upright to face down) in
  // 0.5 s while the measured acceleration drops to about 0.2 g.
  constexpr int kFallSamples = 25;
  const double turnRate = 90.0 / (kFallSamples / kSampleRate);  // deg/s
  for (int i = 0; i < kFallSamples; ++i) {
    const double angle = 90.0 * kDegrees * (i + 1) / kFallSamples;
    stream.add(0.02, -0.2 * std::cos(angle), -0.2 * std::sin(angle), turnRate, 10.0, -5.0);
  }
  // The impact, face down, decaying over 0.1 s, then settling for 0.3 s.
  for (int i = 0; i < 5; ++i) {
    const double peak = 3.6 - 0.6 * i;
    stream.add(0.3, 0.4, -peak, -120.0 + 20.0 * i, 60.0, 30.0);
  }
  for (int i = 0; i < 15; ++i) {
    const double ring = 0.2 * std::exp(-0.3 * i) * std::sin(i * 1.3);
    stream.add(0.0, ring, -1.0 + ring, 10.0 * ring, 0.0, 0.0);
  }
  const int lieSamples = static_cast<int>(lieSeconds * kSampleRate);
  for (int i = 0; i < lieSamples; ++i) {
    stream.add(0.0, 0.0, -1.0, 0.0, 0.0, 0.0);
  }
  return stream.take();
}

std::vector<SampleRecord> readRecordingSamples(const std::filesystem::path& path) {
  RecordingReader reader;
  if (!reader.open(path.c_str())) {
    throw std::runtime_error("cannot read recording " + path.string());
  }
  reader.skipHeader();
  std::vector<SampleRecord> samples;
  SampleRecord sample{};
  for (RecordingReader::Status status = reader.next(sample); status != RecordingReader::Status::End;
       status = reader.next(sample)) {
    if (status == RecordingReader::Status::Sample) {
      samples.push_back(sample);
    }
  }
  return samples;
}

BenchStream loadBenchStream() {
  const std::filesystem::path shared =
      std::filesystem::path(VELMORA_SHARED_DIR) / "data" / "recordings" / "F01_SA01_R01.csv";
  std::error_code error;
  if (std::filesystem::is_regular_file(shared, error)) {
    return BenchStream{readRecordingSamples(shared), "shared F01_SA01_R01"};
  }
  return BenchStream{makeActivityStream(6, 6), "synthetic walk-fall-lie"};
}

void writeRecording(const std::filesystem::path& path, const std::vector<SampleRecord>& samples,
                    int64_t count) {
  if (samples.empty()) {
    throw std::invalid_argument("writeRecording needs at least one sample");
  }
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    throw std::runtime_error("cannot write " + path.string());
  }
  std::fputs("benchmark recording\nactivity: mixed\nsubject: -\ntrial: -\nrate: 50 Hz\n", file);
  std::fputs("counts: 8192 per g, 65.536 per deg/s\nindex,ax,ay,az,gx,gy,gz\n", file);
  std::string lines;
  for (int64_t i = 0; i < count; ++i) {
    appendSampleLine(lines, i, samples[static_cast<std::size_t>(i) % samples.size()]);
    if (lines.size() > (1 << 16) || i + 1 == count) {
      std::fwrite(lines.data(), 1, lines.size(), file);
      lines.clear();
    }
  }
  const bool failed = std::ferror(file) != 0;
  if (std::fclose(file) != 0 || failed) {
    throw std::runtime_error("cannot write " + path.string());
  }
}

ScratchDir::ScratchDir() {
  std::random_device seed;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("velmora-bench-" + std::to_string(seed()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = std::move(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch folder in " + base.string());
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace benchsupport
