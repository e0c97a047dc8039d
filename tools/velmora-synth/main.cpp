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
#include "CommandLine.h"
#include "FileOutput.h"
#include "InfoFile.h"
#include "OptionParser.h"
#include "RecordingWriter.h"
#include "Scenarios.h"

namespace {

constexpr char kUsage[] =
    "Usage: velmora-synth [options] [--] <scenario> <output.csv>\n"
    "\n"
    "Simulates a sensor worn at the waist and writes one recording: seven\n"
    "header lines, then index,ax,ay,az,gx,gy,gz lines at 50 samples/s (8192\n"
    "counts per g, 65.536 counts per deg/s). For a fall it also writes\n"
    "<output>.info with '<name>,<impact sample>,1', the impact being the\n"
    "sample with the largest acceleration magnitude; the .info is put in place\n"
    "first, so a fall is never left without it. A recording without a fall\n"
    "removes a stale <output>.info. Files are replaced only once complete.\n"
    "'-' as output writes standard output (scenarios without a fall only).\n"
    "The same options always give the same bytes.\n"
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
    "  --version     show the program and detector version\n"
    "\n"
    "Example:\n"
    "  velmora-synth --seed 3 fall-forward examples/recordings/fall_forward.csv\n";

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

// An annotation line is "<name>,<position>,<flag>" read up to the first
// line break, with commas separating the fields and a leading double quote
// opening a quoted field: a name holding any of these would shift them.
bool fitsInfoLine(const std::string& name) {
  return name.find_first_of(",\"\r\n") == std::string::npos;
}

int synthMain(int argc, char** argv) {
  ScenarioOptions options;
  const OptionTable table = {
      {{"--seed"},
       true,
       [&options](const std::string&, const std::string& value) {
         return parseSeed(value, options.seed)
                    ? std::string()
                    : "--seed needs a whole number from 0 to 18446744073709551615, not '" + value +
                          "'";
       }},
      {{"--walk"},
       true,
       [&options](const std::string&, const std::string& value) {
         return parseSeconds(value, options.walkSeconds)
                    ? std::string()
                    : "--walk needs seconds from 1 to 600, not '" + value + "'";
       }},
      {{"--rest"},
       true,
       [&options](const std::string&, const std::string& value) {
         return parseSeconds(value, options.restSeconds)
                    ? std::string()
                    : "--rest needs seconds from 1 to 600, not '" + value + "'";
       }},
  };
  ParsedCommandLine parsed;
  if (const std::string error = parseCommandLine(argc, argv, 1, table, parsed); !error.empty()) {
    return usageError(error);
  }
  if (parsed.help) {
    printUsage();
    return 0;
  }
  if (parsed.version) {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }
  const std::vector<std::string>& operands = parsed.operands;
  if (operands.size() != 2) {
    return usageError("expected a scenario and an output file");
  }
  const std::optional<Scenario> scenario = makeScenario(operands[0], options);
  if (!scenario) {
    return usageError("unknown scenario '" + operands[0] + "'");
  }
  const std::filesystem::path output = operands[1];
  const bool toStandardOutput = output == "-";
  std::filesystem::path infoPath = output;
  infoPath.replace_extension(".info");
  if (toStandardOutput && scenario->info.fall) {
    return usageError(
        "a fall is written as two files (the recording and its .info); '-' "
        "cannot take them");
  }
  if (!toStandardOutput) {
    if (!output.empty() && output.extension() == ".info") {
      return usageError("'" + output.string() +
                        "': a recording cannot end in .info, the name of its annotation");
    }
    if (scenario->info.fall && !fitsInfoLine(output.stem().string())) {
      return usageError("'" + output.string() +
                        "': the recording's name cannot go into its .info line (it may not hold "
                        "a comma, a double quote or a line break)");
    }
    if (const std::string error = checkOutputPaths(
            {}, {{"the recording", output.string()}, {"its annotation", infoPath.string()}});
        !error.empty()) {
      return usageError(error);
    }
  }

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
  text += recordingFormatText(static_cast<int64_t>(samples.size())) + "; upright: y about -1 g";
  if (info.fall && !samples.empty()) {
    text += "; impact (max |acc|) at sample " + std::to_string(impact) + ", " +
            formatNumber("%.2f", samples[impact].accMagnitude / kAccCountsPerG) + " g";
  }
  text += "\nindex,ax,ay,az,gx,gy,gz\n";
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto& c = samples[i].counts;
    appendSampleLine(text, static_cast<int64_t>(i),
                     SampleRecord{c[0], c[1], c[2], c[3], c[4], c[5]});
  }

  if (toStandardOutput) {
    if (const std::string error = writeOutput("-", text); !error.empty()) {
      return failure(error);
    }
    return 0;
  }
  // The annotation goes first: an interruption between the two leaves the
  // old recording with the new annotation's position at worst, never a fall
  // recording without its annotation. A recording without a fall takes away
  // an annotation left from an earlier one of the same name.
  std::vector<OutputItem> files;
  if (info.fall) {
    files.push_back({infoPath, formatInfoFile(output.stem().string(), impact)});
  } else {
    files.push_back({infoPath, std::nullopt});
  }
  files.push_back({output, std::move(text)});
  if (const std::string error = writeOutputs(files); !error.empty()) {
    return failure(error);
  }
  return 0;
}

int main(int argc, char** argv) { return runTool("velmora-synth", argc, argv, synthMain); }
