// velmora-live as a user runs it: the alarms it reports on a stream equal
// velmora-eval's alarm rows for the same recording, bad lines never become
// samples, a pseudo-terminal works as a serial device, and alarm hooks run.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "gtest/gtest.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::runProgram;
using testsupport::runProgramOn;
using testsupport::TempDir;

namespace {

const fs::path kExamples = fs::path(VELMORA_SOURCE_DIR) / "examples" / "recordings";

// "position code" per alarm, from velmora-live --json output.
std::vector<std::string> liveAlarms(const std::string& json) {
  std::vector<std::string> alarms;
  std::istringstream lines(json);
  for (std::string line; std::getline(lines, line);) {
    const auto field = [&line](const std::string& key) {
      const std::size_t start =
          line.find_first_not_of(' ', line.find("\"" + key + "\":") + key.size() + 3);
      return line.substr(start, line.find_first_of(",}", start) - start);
    };
    alarms.push_back(field("position") + " " + field("code"));
  }
  return alarms;
}

// Recording path -> "position code" per alarm, from velmora-eval --alarms.
std::map<std::string, std::vector<std::string>> evalAlarms(const fs::path& folder,
                                                           std::vector<std::string> options = {}) {
  const TempDir scratch;
  const fs::path out = scratch.path() / "alarms.csv";
  for (const std::string& arg : {std::string("--alarms"), out.string(), folder.string()}) {
    options.push_back(arg);
  }
  const auto run = runProgram("velmora-eval", options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  std::map<std::string, std::vector<std::string>> alarms;
  std::istringstream lines(readFile(out));
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, ',');) {
      fields.push_back(field);
    }
    alarms[fs::path(fields[0]).filename().string()].push_back(fields[1] + " " + fields[4]);
  }
  return alarms;
}

// Runs every recording of `source` (its .csv files) through velmora-live
// with --record; the alarms must equal velmora-eval's for the journal, and
// for the original whenever the live run took the file as eval reads it
// (seven header lines, nothing malformed). Returns {originals, journals}.
std::pair<int, int> checkFolder(const fs::path& source) {
  const TempDir originals;
  const TempDir journals;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(source)) {
    if (entry.path().extension() == ".csv") {
      names.push_back(entry.path().filename().string());
      // Without the .info files: every recording is judged, none is an error.
      fs::create_symlink(entry.path(), originals.path() / entry.path().filename());
    }
  }
  std::map<std::string, std::vector<std::string>> live;
  std::map<std::string, bool> sameView;
  for (const std::string& name : names) {
    const auto run = runProgramOn(source / name, "velmora-live",
                                  {"--json", "--record", (journals.path() / name).string()});
    EXPECT_EQ(run.exitCode, 0) << name << ": " << run.err;
    live[name] = liveAlarms(run.out);
    sameView[name] = run.err.find(" 0 malformed lines, 7 header lines,") != std::string::npos;
  }
  const auto fromOriginals = evalAlarms(originals.path());
  const auto fromJournals = evalAlarms(journals.path());
  int equalOriginals = 0;
  for (const std::string& name : names) {
    const auto journal = fromJournals.find(name);
    EXPECT_EQ(live[name],
              journal == fromJournals.end() ? std::vector<std::string>{} : journal->second)
        << name << " (journal)";
    if (sameView[name]) {
      const auto original = fromOriginals.find(name);
      EXPECT_EQ(live[name],
                original == fromOriginals.end() ? std::vector<std::string>{} : original->second)
          << name;
      ++equalOriginals;
    }
  }
  return {equalOriginals, static_cast<int>(names.size())};
}

std::string exampleLines(const std::string& name) { return readFile(kExamples / name); }

// The data lines of a recording (everything after its seven header lines).
std::string dataLines(const std::string& recording) {
  std::size_t at = 0;
  for (int line = 0; line < 7 && at != std::string::npos; ++line) {
    at = recording.find('\n', at);
    at = at == std::string::npos ? at : at + 1;
  }
  return at == std::string::npos ? std::string() : recording.substr(at);
}

// fall_forward.csv as a foreign sensor would log it: 100 rows a second
// (each sample, then the midpoint to the next), m/s^2 and rad/s, the
// sensor's x and y axes turned a quarter round, a time column in seconds.
std::string foreignSensorCsv() {
  std::vector<std::array<double, 6>> samples;
  std::istringstream lines(dataLines(exampleLines("fall_forward.csv")));
  for (std::string line; std::getline(lines, line);) {
    std::array<double, 6> sample{};
    std::sscanf(line.c_str(), "%*d,%lf,%lf,%lf,%lf,%lf,%lf", &sample[0], &sample[1], &sample[2],
                &sample[3], &sample[4], &sample[5]);
    samples.push_back(sample);
  }
  std::string csv = "time,ax,ay,az,gx,gy,gz\n";
  int row = 0;
  for (std::size_t k = 0; k + 1 < samples.size(); ++k) {
    for (const double share : {0.0, 0.5}) {
      std::array<double, 6> v{};
      for (std::size_t axis = 0; axis < 6; ++axis) {
        v[axis] = samples[k][axis] + share * (samples[k + 1][axis] - samples[k][axis]);
        v[axis] *= axis < 3 ? 9.80665 / 8192.0 : std::numbers::pi / 180.0 / 65.536;
      }
      char text[256];
      std::snprintf(text, sizeof text, "%.3f,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f\n", row++ * 0.01, -v[1],
                    v[0], v[2], -v[4], v[3], v[5]);
      csv += text;
    }
  }
  return csv;
}

}  // namespace

TEST(LiveEquivalence, AlarmsEqualEvalAlarmsForEverySharedRecording) {
  const fs::path shared = testsupport::sharedDir();
  if (shared.empty()) {
    GTEST_SKIP() << "the shared recordings (../shared) are absent";
  }
  const auto [recordings, recordingJournals] = checkFolder(shared / "data" / "recordings");
  EXPECT_EQ(recordings, 30);
  EXPECT_EQ(recordingJournals, 30);
  const fs::path cases = shared / "conformance" / "cases";
  if (fs::is_directory(cases)) {
    const auto [originals, journals] = checkFolder(cases);
    std::printf("conformance cases: %d equal to velmora-eval on the original, %d on the journal\n",
                originals, journals);
    EXPECT_GT(originals, 100);
  }
}

TEST(LiveTool, BadLinesAreSkippedCountedAndTakeNoPosition) {
  // fall_forward.csv alarms at 445; bad lines inserted before it must not move that.
  std::string text = exampleLines("fall_forward.csv");
  std::size_t at = 0;
  for (int line = 0; line < 100; ++line) {
    at = text.find('\n', at) + 1;
  }
  const std::string bad = "1,2,3\n" + std::string(1100, '7') + "\n1,2,3,4,5,6,\xff\n" +
                          "1,40000,0,0,0,0,0\n\n1,2,3,4,5,6,7,8\n";
  text.insert(at, bad);
  const TempDir dir;
  const auto run = runProgramOn(dir.write("in.csv", text), "velmora-live", {"--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const auto alarms = liveAlarms(run.out);
  ASSERT_EQ(alarms.size(), 1U) << run.out;
  EXPECT_EQ(alarms[0].substr(0, 4), "445 ");
  EXPECT_NE(run.err.find(" 6 malformed lines, 7 header lines,"), std::string::npos) << run.err;
  // One warning a second at most: the six come together, one is printed.
  EXPECT_NE(run.err.find("warning: line 101: 3 fields, expected 7; skipped"), std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("line 102"), std::string::npos) << run.err;
}

TEST(LiveTool, TextLineHooksAndUsage) {
  const TempDir dir;
  const fs::path hookOut = dir.path() / "hook.txt";
  const auto run =
      runProgramOn(kExamples / "fall_forward.csv", "velmora-live",
                   {"--exec", "echo \"$VELMORA_POSITION $VELMORA_SECONDS $VELMORA_CODE\" >> '" +
                                  hookOut.string() + "'; exit 3"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Z  alarm at position 445 (8.90 s): code "), std::string::npos) << run.out;
  EXPECT_EQ(readFile(hookOut).substr(0, 9), "445 8.90 ") << readFile(hookOut);
  EXPECT_NE(run.err.find("--exec: the command for the alarm at position 445 exited with status 3"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find("--exec: 1 run, 1 failed, 0 dropped"), std::string::npos) << run.err;

  const fs::path existing = dir.write("taken.csv", "x");
  EXPECT_EQ(runProgram("velmora-live", {"--record", existing.string()}).exitCode, 2);
  EXPECT_EQ(readFile(existing), "x");
  EXPECT_EQ(runProgram("velmora-live", {"--baud", "9600"}).exitCode, 2);
  EXPECT_EQ(runProgram("velmora-live", {"--serial", existing.string()}).exitCode, 2);
  EXPECT_EQ(runProgram("velmora-live", {"--follow", "a", "--serial", "b"}).exitCode, 2);
  EXPECT_EQ(runProgram("velmora-live", {"--help"}).exitCode, 0);
}

TEST(LiveTool, AProfileGivesTheAlarmsOfEvalUnderThatProfile) {
  // A forward fall the defaults miss and profile fa1 (a looser upright
  // check) detects.
  const TempDir dir;
  const fs::path recording = dir.path() / "fall.csv";
  ASSERT_EQ(
      runProgram("velmora-synth", {"--seed", "4", "fall-forward", recording.string()}).exitCode, 0);
  fs::remove(dir.path() / "fall.info");
  const auto expected = evalAlarms(dir.path(), {"--profile", "fa1"})["fall.csv"];
  ASSERT_NE(expected, evalAlarms(dir.path())["fall.csv"]) << "fa1 no longer matters here";
  const auto run = runProgramOn(recording, "velmora-live", {"--json", "--profile", "fa1"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(liveAlarms(run.out), expected);
}

TEST(LiveTool, PseudoTerminalAsSerialDeviceAlarmsAtOnceReportsTheGapAndStopsOnSigterm) {
  int master = -1;
  int slave = -1;
  char name[256] = {};
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  int out[2];
  int err[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(err), 0);
  const std::string program = std::string(VELMORA_BIN_DIR) + "/velmora-live";
  const pid_t child = ::fork();
  if (child == 0) {
    // Only the test holds the terminal's master side: closing it is the
    // device going away.
    ::close(master);
    ::close(slave);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::execl(program.c_str(), "velmora-live", "--serial", name, "--baud", "115200", "--json",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ::close(slave);
  // Until it has set the terminal raw, what is written could be echoed.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string text = exampleLines("fall_forward.csv");
  ASSERT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  pollfd wait{out[0], POLLIN, 0};
  ASSERT_EQ(::poll(&wait, 1, 10'000), 1) << "no alarm within 10 s";
  char buffer[512] = {};
  const ssize_t got = ::read(out[0], buffer, sizeof buffer - 1);
  ASSERT_GT(got, 0);
  EXPECT_NE(std::string(buffer).find("\"position\": 445, \"seconds\": 8.9,"), std::string::npos)
      << buffer;
  // The device goes away: a gap, and the run waits for it to come back.
  ::close(master);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(child, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::string errors;
  while (::read(err[0], buffer, sizeof buffer - 1) > 0) {
    errors += buffer;
    std::fill(std::begin(buffer), std::end(buffer), 0);
  }
  EXPECT_NE(errors.find("stopped by SIGTERM"), std::string::npos) << errors;
  EXPECT_NE(errors.find("waiting for the device to come back"), std::string::npos) << errors;
  EXPECT_NE(errors.find(" 1 alarm, 0 malformed lines, 7 header lines, 1 gap"), std::string::npos)
      << errors;
  ::close(out[0]);
  ::close(err[0]);
}

TEST(LiveCsv, SamplesAndAlarmsEqualTheImporterFollowedByEval) {
  const TempDir dir;
  const fs::path sensor = dir.write("sensor.csv", foreignSensorCsv());
  const std::vector<std::string> common = {"--acc",      "ax,ay,az",      "--gyro",      "gx,gy,gz",
                                           "--acc-unit", "mps2",          "--gyro-unit", "rads",
                                           "--axes",     "x=+y,y=-x,z=+z"};
  // Mean of pairs at 100 Hz, interpolation from 70 Hz, placement by stamps.
  const std::vector<std::vector<std::string>> timings = {
      {"--rate", "100"},
      {"--rate", "70", "--resample", "linear"},
      {"--time", "time", "--resample", "linear"}};
  int index = 0;
  for (const auto& timing : timings) {
    const std::string tag = std::to_string(index++);
    std::vector<std::string> importArgs = {"csv"};
    importArgs.insert(importArgs.end(), common.begin(), common.end());
    importArgs.insert(importArgs.end(), timing.begin(), timing.end());
    for (const std::string& arg :
         {std::string("-o"), (dir.path() / tag).string(), sensor.string()}) {
      importArgs.push_back(arg);
    }
    const auto imported = runProgram("velmora-import", importArgs);
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
    const fs::path recording = dir.path() / tag / "sensor.csv";

    const fs::path journal = dir.path() / (tag + "-journal.csv");
    std::vector<std::string> liveArgs = {"--format", "csv", "--json", "--record", journal.string()};
    liveArgs.insert(liveArgs.end(), common.begin(), common.end());
    liveArgs.insert(liveArgs.end(), timing.begin(), timing.end());
    const auto live = runProgramOn(sensor, "velmora-live", liveArgs);
    ASSERT_EQ(live.exitCode, 0) << live.err;

    EXPECT_EQ(dataLines(readFile(journal)), dataLines(readFile(recording))) << timing[1];
    const auto eval = evalAlarms(dir.path() / tag);
    EXPECT_EQ(liveAlarms(live.out), eval.at("sensor.csv")) << timing[1];
  }
  // Without a header row, the names come from --columns.
  std::string rows = foreignSensorCsv();
  rows.erase(0, rows.find('\n') + 1);
  std::vector<std::string> args = {
      "--format", "csv", "--json", "--rate", "100", "--columns", "time,ax,ay,az,gx,gy,gz"};
  args.insert(args.end(), common.begin(), common.end());
  const auto headless = runProgramOn(dir.write("rows.csv", rows), "velmora-live", args);
  EXPECT_EQ(liveAlarms(headless.out), evalAlarms(dir.path() / "0").at("sensor.csv"));
}

TEST(LiveCsv, BackwardsAndJumpingStampsAreGaps) {
  const TempDir dir;
  const std::string csv =
      "t,ax,ay,az,gx,gy,gz\n0,0,-1,0,0,0,0\n0.02,0,-1,0,0,0,0\n"
      "0.01,0,-1,0,0,0,0\n5,0,-1,0,0,0,0\n5.02,0,-1,0,0,0,0\n";
  const auto run = runProgramOn(dir.write("t.csv", csv), "velmora-live",
                                {"--format", "csv", "--acc", "ax,ay,az", "--gyro", "gx,gy,gz",
                                 "--acc-unit", "g", "--gyro-unit", "dps", "--time", "t"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.err.find("line 4: the time goes back by 0.010 s"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" 2 gaps"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(" 5 samples "), std::string::npos) << run.err;  // 2 + 1 + 2 grids
}
