// velmora-import's conversion cores on text held in memory (no file I/O):
// input samples per second for the general importer's three resampling
// methods and for the UMAFall rule.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "CsvImport.h"
#include "UmafallImport.h"

namespace {

constexpr int kRows = 200000;  // 1000 s at 200 samples/s

// A waist log at 200 samples/s in m/s^2 and rad/s: gravity on y, a slow
// sway and some noise-like detail, with a time column in ms.
const std::vector<std::string>& csvLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> text = {"t,ax,ay,az,gx,gy,gz"};
    char line[200];
    for (int i = 0; i < kRows; ++i) {
      const double t = i / 200.0;
      std::snprintf(line, sizeof line, "%.3f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f", t * 1000.0,
                    0.8 * std::sin(3.1 * t), -9.80665 + 0.5 * std::cos(7.3 * t),
                    0.3 * std::sin(11.7 * t), 0.2 * std::sin(2.3 * t), 0.1 * std::cos(5.9 * t),
                    0.05 * std::sin(13.1 * t));
      text.emplace_back(line);
    }
    return text;
  }();
  return lines;
}

void runCsv(benchmark::State& state, Resampling resampling, bool timeColumn) {
  CsvOptions options;
  options.accColumns = {"ax", "ay", "az"};
  options.gyroColumns = {"gx", "gy", "gz"};
  options.accFactor = *accUnitFactor("mps2");
  options.gyroFactor = *gyroUnitFactor("rads");
  options.accUnitText = "mps2";
  options.gyroUnitText = "rads";
  options.resampling = resampling;
  if (timeColumn) {
    options.timeColumn = "t";
    options.timeUnitMs = 1.0;
  } else {
    options.rate = 200.0;
  }
  const auto& lines = csvLines();
  for (auto _ : state) {
    CsvReader reader(options);
    int64_t number = 0;
    for (const std::string& line : lines) {
      if (!reader.addLine(line, ++number).empty()) {
        state.SkipWithError("a line was refused");
        return;
      }
    }
    auto result = reader.finish("bench", "bench.csv");
    if (!std::holds_alternative<ImportedRecording>(result)) {
      state.SkipWithError(std::get<std::string>(result).c_str());
      return;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_CsvMean(benchmark::State& state) { runCsv(state, Resampling::Mean, false); }
void BM_CsvLinearTimeColumn(benchmark::State& state) { runCsv(state, Resampling::Linear, true); }
void BM_CsvSinc(benchmark::State& state) {
  if (!importsignal::sincAvailable()) {
    state.SkipWithError("built without libsamplerate");
    return;
  }
  runCsv(state, Resampling::Sinc, false);
}

// UMAFall-shaped text: a header with the sensor table, then the waist and
// a wrist sensor's accelerometer and gyroscope lines at 20 samples/s each.
const std::vector<std::string>& umafallLines() {
  static const std::vector<std::string> lines = [] {
    std::vector<std::string> text = {"% Universidad de Malaga", "% Type of Movement: FALL",
                                     "%C4:BE:84:70:0E:80; 3; WRIST; SensorTag",
                                     "%C4:BE:84:71:A5:02; 2; WAIST; SensorTag"};
    char line[200];
    for (int i = 0; i < kRows / 4; ++i) {
      const int ms = i * 50;
      for (const int sensor : {2, 3}) {
        std::snprintf(line, sizeof line, "%d;%d;%.6f;%.6f;%.6f;0;%d", ms, i,
                      0.05 * std::sin(i * 0.1), 0.95, 0.07, sensor);
        text.emplace_back(line);
        std::snprintf(line, sizeof line, "%d;%d;%.6f;%.6f;%.6f;1;%d", ms + 1, i,
                      3.0 * std::sin(i * 0.2), -2.0, 1.0, sensor);
        text.emplace_back(line);
      }
    }
    return text;
  }();
  return lines;
}

void BM_Umafall(benchmark::State& state) {
  const auto name =
      parseUmafallName("UMAFall_Subject_01_Fall_forwardFall_1_2016-06-13_20-43-52.csv");
  const auto& lines = umafallLines();
  for (auto _ : state) {
    UmafallReader reader;
    for (const std::string& line : lines) {
      reader.addLine(line);
    }
    auto result = convertUmafall(std::move(reader), *name, "bench.csv");
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
}

}  // namespace

BENCHMARK(BM_CsvMean)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvLinearTimeColumn)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CsvSinc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Umafall)->Unit(benchmark::kMillisecond);
