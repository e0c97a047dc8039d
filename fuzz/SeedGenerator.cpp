// velmora-fuzz-seeds: writes the small seed corpora of the fuzz harnesses,
// one folder per harness, from synthetic streams (standing, walking, a fall,
// a random walk) and hand-made malformed files.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "RecordingWriter.h"
#include "Velmora.h"

namespace fs = std::filesystem;

namespace {

constexpr char kUsage[] =
    "Usage: velmora-fuzz-seeds <output_folder>\n"
    "\n"
    "Writes the seed corpora of the fuzz harnesses into <output_folder>/recording,\n"
    "info, detector, settings and import (existing files of the same name are\n"
    "replaced).\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n"
    "\n"
    "Example:\n"
    "  velmora-fuzz-seeds build-fuzz/fuzz-seeds\n";

constexpr int16_t kOneG = 8192;  // counts per g

using Stream = std::vector<SampleRecord>;

int16_t clampCount(double value) {
  return static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, value))));
}

// Upright wearer at rest: gravity along -y.
Stream standing(int count) {
  return Stream(static_cast<std::size_t>(count), {0, -kOneG, 0, 0, 0, 0});
}

// Upright walking: a 2 Hz bounce on the vertical axis with a little sway.
Stream walking(int count) {
  Stream stream;
  for (int i = 0; i < count; ++i) {
    const double phase = 2.0 * 3.14159265358979 * 2.0 * i / 50.0;
    stream.push_back({clampCount(900 * std::sin(phase / 2)),
                      clampCount(-kOneG - 2500 * std::sin(phase)),
                      clampCount(600 * std::cos(phase)), clampCount(1500 * std::sin(phase / 2)), 0,
                      clampCount(800 * std::cos(phase))});
  }
  return stream;
}

// Standing, a short free fall, a hard impact while rotating, then lying
// still on the back (gravity along +z). The impact starts 12 samples after
// the standing part.
Stream fall(int standingSamples = 120) {
  Stream stream = standing(standingSamples);
  for (int i = 0; i < 12; ++i) {
    stream.push_back({0, clampCount(-kOneG * (0.3 - 0.02 * i)), clampCount(kOneG * 0.1 * i / 12), 0,
                      clampCount(65.536 * 200), 0});
  }
  const SampleRecord impact[] = {{4000, -24000, 12000, 9000, 26000, 3000},
                                 {-3000, -16000, 20000, -6000, 18000, 0},
                                 {2000, -6000, 18000, 2000, 6000, -2000},
                                 {0, -2000, 12000, 0, 1000, 0}};
  stream.insert(stream.end(), std::begin(impact), std::end(impact));
  for (int i = 0; i < 150; ++i) {
    stream.push_back({0, 0, static_cast<int16_t>(i < 60 ? 2400 : kOneG), 0, 0, 0});
  }
  return stream;
}

// A bounded random walk over the whole 16-bit range.
Stream randomWalk(int count, uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> step(-3000, 3000);
  int values[6] = {0, -kOneG, 0, 0, 0, 0};
  Stream stream;
  for (int i = 0; i < count; ++i) {
    for (int& value : values) {
      value = std::max(-32768, std::min(32767, value + step(random)));
    }
    stream.push_back({static_cast<int16_t>(values[0]), static_cast<int16_t>(values[1]),
                      static_cast<int16_t>(values[2]), static_cast<int16_t>(values[3]),
                      static_cast<int16_t>(values[4]), static_cast<int16_t>(values[5])});
  }
  return stream;
}

std::string recordingText(const Stream& stream, const char* lineEnd = "\n") {
  std::vector<std::string> header;
  for (int i = 0; i < 7; ++i) {
    header.push_back("# header line " + std::to_string(i + 1));
  }
  return formatRecording(header, stream, lineEnd);
}

void appendWord32(std::string& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes += static_cast<char>((value >> shift) & 0xFF);
  }
}

// The detector harness's layout: settings, an option byte, then samples.
std::string detectorInput(const DetectorSettings& settings, const Stream& stream,
                          uint8_t options = 0) {
  std::string bytes;
  const auto* values = reinterpret_cast<const int32_t*>(&settings);
  for (std::size_t i = 0; i < sizeof settings / sizeof(int32_t); ++i) {
    appendWord32(bytes, static_cast<uint32_t>(values[i]));
  }
  bytes += static_cast<char>(options);
  for (const SampleRecord& s : stream) {
    for (const int16_t value : {s.ax, s.ay, s.az, s.gx, s.gy, s.gz}) {
      const auto word = static_cast<uint16_t>(value);
      bytes += static_cast<char>(word & 0xFF);
      bytes += static_cast<char>(word >> 8);
    }
  }
  return bytes;
}

bool writeSeed(const fs::path& folder, const std::string& name, const std::string& bytes) {
  std::ofstream file(folder / name, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2) {
    std::fputs(
        "velmora-fuzz-seeds: expected one output folder\n(run velmora-fuzz-seeds --help for "
        "usage)\n",
        stderr);
    return 2;
  }
  const fs::path root = argv[1];
  std::error_code error;
  for (const char* folder : {"recording", "info", "detector", "settings", "import", "partfile"}) {
    fs::create_directories(root / folder, error);
    if (error) {
      std::fprintf(stderr, "velmora-fuzz-seeds: cannot create '%s': %s\n", (root / folder).c_str(),
                   error.message().c_str());
      return 1;
    }
  }
  bool ok = true;
  const auto seed = [&](const char* folder, const std::string& name, const std::string& bytes) {
    ok = writeSeed(root / folder, name, bytes) && ok;
  };

  // Recordings: realistic streams, then the malformed shapes readers meet.
  seed("recording", "standing.csv", recordingText(standing(80)));
  seed("recording", "walking.csv", recordingText(walking(200)));
  seed("recording", "fall.csv", recordingText(fall()));
  seed("recording", "fall-crlf.csv", recordingText(fall(), "\r\n"));
  seed("recording", "random.csv", recordingText(randomWalk(150, 7)));
  seed("recording", "empty.csv", "");
  seed("recording", "header-only.csv", "a\nb\nc\n");
  seed("recording", "short-lines.csv",
       recordingText(standing(3)) + "1,2,3\n\n,,,,,,,\n9,1,2,3,4,5\n" + "5,,1,,2,3,4,5,6\n");
  seed("recording", "long-line.csv",
       recordingText(standing(2)) + "0," + std::string(1500, '7') + ",1,2,3,4,5\n");
  seed("recording", "nul-byte.csv",
       recordingText(standing(2)) + std::string("0,1,2\0,3,4,5,6\n", 15) + "1,1,2,3,4,5,6\n");
  seed("recording", "huge-values.csv",
       recordingText({}) + "0,99999999999999999999,-99999999999999999999,65536,-32769,+12, 7\n");
  seed("recording", "binary.csv", std::string("\x00\xff\x01,\x80\n\x7f", 7));

  // Importer input: a mode byte (see ImportFuzzer.cpp), then the file.
  std::string log = "t,ax,ay,az,gx,gy,gz,label\n";
  for (int i = 0; i < 120; ++i) {
    log += std::to_string(i * 5) + ",0.1,-1," + std::to_string(i % 7) + ",3,-2,1," +
           (i == 60 ? "1" : "0") + "\n";
  }
  seed("import", "rate-mean.csv", std::string(1, '\x11') + log);
  seed("import", "time-ms-impact.csv", std::string(1, '\x43') + log);
  seed("import", "time-label-sinc.csv", std::string(1, '\xB3') + log);
  seed("import", "semicolons.csv", std::string(1, '\x20') + "\"ax\";ay;az;gx;gy;gz\n1;2;3;4;5;6\n");
  seed("import", "umafall.csv",
       std::string(1, '\xC0') +
           "% Type of Movement: FALL\n%C4:BE:84:71:A5:02; 2; WAIST; SensorTag\n"
           "96;1;0.05;0.95;0.07;0;2\n96;2;0.06;0.94;0.07;0;2\n97;3;1.5;-2;3;1;2\n"
           "140;4;0.1;0.9;0.1;0;2\n150;5;2;-1;0;1;2\n;;;;;;;\n");

  // Info files: the three-field first line and its near misses.
  seed("info", "plain.info", "fall.csv,140,1\n");
  seed("info", "no-flag.info", "fall.csv,140,0\r\nsecond line\n");
  seed("info", "two-fields.info", "fall.csv,140\n");
  seed("info", "quoted.info", "\"a,b\",7,1\n");
  seed("info", "extreme.info", "x,-9223372036854775809,99999999999999999999\n");
  seed("info", "blanks.info", " , \t-12 ,+3,,,\n");
  seed("info", "empty.info", "");
  seed("info", "unterminated-quote.info", "\"abc,1,2");

  // Detector streams: default settings, then each setting pushed to the
  // 32-bit limits, then refused windows.
  DetectorSettings defaults;
  VelmoraDefaultSettings(&defaults);
  seed("detector", "default-fall", detectorInput(defaults, fall()));
  seed("detector", "default-walking", detectorInput(defaults, walking(150)));
  seed("detector", "default-random", detectorInput(defaults, randomWalk(200, 11)));
  constexpr std::size_t kFieldCount = sizeof defaults / sizeof(int32_t);
  for (std::size_t i = 1; i < kFieldCount; ++i) {
    for (const int32_t extreme :
         {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
      DetectorSettings settings = defaults;
      reinterpret_cast<int32_t*>(&settings)[i] = extreme;
      seed("detector", "extreme-" + std::to_string(i) + (extreme < 0 ? "-min" : "-max"),
           detectorInput(settings, fall()));
    }
  }
  // Streams that start just before sampleIndex wraps (option bit 0, the
  // samples before the wrap in the other bits; read when the harness is
  // built with VELMORA_FUZZ_INDEX_WRAP), with the wrap near the impact.
  for (const uint8_t before : {70, 100}) {
    seed("detector", "wrap-" + std::to_string(before),
         detectorInput(defaults, fall(60), static_cast<uint8_t>(before << 1 | 1)));
  }
  for (const int32_t window : {0, 1, 63, 64, -1}) {
    DetectorSettings settings = defaults;
    settings.avgWindow = window;
    seed("detector", "window-" + std::to_string(window), detectorInput(settings, fall()));
  }

  // Settings files.
  seed("settings", "one.txt", "lowLevel=55\n");
  seed("settings", "comments.txt", "# tuned\n\n  avgWindow = 20  # wider\nimpactMax=+500\r\n");
  seed("settings", "extremes.txt", "gapMin=-2147483648\ngapMax=2147483647\n");
  seed("settings", "overflow.txt", "gapMin=2147483648\n");
  seed("settings", "unknown.txt", "noSuchSetting=1\n");
  seed("settings", "no-equals.txt", "lowLevel 55\n");
  seed("settings", "bad-window.txt", "avgWindow=64\n");
  seed("settings", "empty.txt", "");
  seed("settings", "comment-injection.txt", "_R0([0-9])|\nimpactMin=9999\n");
  if (!ok) {
    std::fprintf(stderr, "velmora-fuzz-seeds: cannot write the seeds under '%s'\n", root.c_str());
    return 1;
  }
  return 0;
}
