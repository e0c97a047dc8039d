// velmora-synth: writes simulated waist-worn recordings (walking, sitting
// down, falls) in the recording format that Drovik replays, with an info
// file for every fall.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "BodyMotion.h"
#include "FileOutput.h"
#include "Scenarios.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-synth [options] <scenario> <output.csv>\n"
    "\n"
    "Simulates a sensor worn at the waist and writes one recording: seven\n"
    "header lines, then index,ax,ay,az,gx,gy,gz lines at 50 samples/s (8192\n"
    "counts per g, 65.536 counts per deg/s). For a fall it also writes\n"
    "<output>.info with '<name>,<impact sample>,1', the impact being the\n"
    "sample with the largest acceleration magnitude. The same options always\n"
    "give the same bytes.\n"
    "\n"
    "Scenarios:\n"
    "%s"
    "\n"
    "Options:\n"
    "  --seed N      random seed for gait, event and sensor noise (default 1)\n"
    "  --walk SEC    seconds of walking before the event, 1 to 600 (default 6);\n"
    "                for 'walking' the whole walk\n"
    "  --rest SEC    seconds of lying or sitting still afterwards, 1 to 600\n"
    "                (default 6)\n"
    "  -h, --help    show this help\n"
    "\n"
    "Example:\n"
    "  velmora-synth --seed 3 fall-forward examples/recordings/fall_forward.csv\n";

int usageError(const std::string& message) {
  std::fprintf(stderr, "velmora-synth: %s\n(run velmora-synth --help for usage)\n",
               message.c_str());
  return 2;
}

void printUsage() {
  std::string scenarios;
  for (const ScenarioInfo& info : scenarioList()) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-14s %s\n", info.name, info.description);
    scenarios += line;
  }
  std::printf(kUsage, scenarios.c_str());
}

bool parseSeed(const std::string& text, uint64_t& seed) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, seed);
  return error == std::errc() && ptr == end && !text.empty();
}

bool parseSeconds(const std::string& text, double& seconds) {
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, seconds);
  return error == std::errc() && ptr == end && !text.empty() && seconds >= 1.0 && seconds <= 600.0;
}

std::string formatNumber(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  ScenarioOptions options;
  std::vector<std::string> operands;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      printUsage();
      return 0;
    }
    if (arg == "--seed" || arg == "--walk" || arg == "--rest") {
      if (i + 1 >= argc) {
        return usageError(arg + " needs a value");
      }
      const std::string value = argv[++i];
      if (arg == "--seed" && !parseSeed(value, options.seed)) {
        return usageError("--seed needs a whole number from 0 to 18446744073709551615, not '" +
                          value + "'");
      }
      if (arg == "--walk" && !parseSeconds(value, options.walkSeconds)) {
        return usageError("--walk needs seconds from 1 to 600, not '" + value + "'");
      }
      if (arg == "--rest" && !parseSeconds(value, options.restSeconds)) {
        return usageError("--rest needs seconds from 1 to 600, not '" + value + "'");
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usageError("unknown option '" + arg + "'");
    } else {
      operands.push_back(arg);
    }
  }
  if (operands.size() != 2) {
    return usageError("expected a scenario and an output file");
  }
  const std::optional<Scenario> scenario = makeScenario(operands[0], options);
  if (!scenario) {
    return usageError("unknown scenario '" + operands[0] + "'");
  }
  const std::filesystem::path output = operands[1];

  // The sensor noise has a stream of its own, so that changing the motion
  // model's draws does not reshuffle the noise.
  NoiseSource noise(options.seed ^ 0x5EED0F5E750F5EEDULL);
  const std::vector<SynthSample> samples =
      sampleMotion(scenario->motion, scenario->seconds, scenario->noise, noise);

  std::size_t impact = 0;
  int accClamped = 0;
  int gyroClamped = 0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (samples[i].accMagnitude > samples[impact].accMagnitude) {
      impact = i;
    }
    for (std::size_t axis = 0; axis < 6; ++axis) {
      const int16_t value = samples[i].counts[axis];
      if (value == 32767 || value == -32768) {
        ++(axis < 3 ? accClamped : gyroClamped);
      }
    }
  }

  const ScenarioInfo& info = scenario->info;
  std::string text;
  text += "Synthetic recording by velmora-synth | scenario: " + std::string(info.name) +
          " | seed: " + std::to_string(options.seed) + "\n";
  text += "activity: " + std::string(info.name) + (info.fall ? " (fall) " : " (daily living) ") +
          info.description + "\n";
  text += "subject: simulated adult, sensor at the waist | walk " +
          formatNumber("%.1f", options.walkSeconds) + " s, rest " +
          formatNumber("%.1f", options.restSeconds) + " s\n";
  text +=
      "model: trunk orientation and hip acceleration; each sample the mean of 4 readings 5 ms "
      "apart; noise " +
      formatNumber("%.3f", scenario->noise.accSpread) + " g, " +
      formatNumber("%.1f", scenario->noise.gyroSpread) + " deg/s\n";
  text += "conversion: rounded to nearest count, clamped to int16 (acc " +
          std::to_string(accClamped) + ", gyro " + std::to_string(gyroClamped) + " values)\n";
  text += "format: 50 samples/s, " + std::to_string(samples.size()) +
          " samples; acc 8192 counts/g (+-4 g), gyro 65.536 counts per deg/s (+-500 deg/s); "
          "upright: y about -1 g";
  if (info.fall && !samples.empty()) {
    text += "; impact (max |acc|) at sample " + std::to_string(impact) + ", " +
            formatNumber("%.2f", samples[impact].accMagnitude / kAccCountsPerG) + " g";
  }
  text += "\nindex,ax,ay,az,gx,gy,gz\n";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    text += std::to_string(i);
    for (const int16_t value : samples[i].counts) {
      text += ',';
      text += std::to_string(value);
    }
    text += '\n';
  }

  std::vector<std::pair<std::filesystem::path, std::string>> files = {{output, text}};
  if (info.fall) {
    std::filesystem::path infoPath = output;
    infoPath.replace_extension(".info");
    files.emplace_back(infoPath, output.stem().string() + "," + std::to_string(impact) + ",1\n");
  }
  if (const std::string error = writeFilesAtomically(files); !error.empty()) {
    std::fprintf(stderr, "velmora-synth: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
