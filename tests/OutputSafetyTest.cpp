// The programs run as a user runs them, in a fresh folder each, against the
// faults that lose or corrupt files: failed and interrupted writes, outputs
// that name an input, special files, stale and malformed annotations, and
// command-line edge cases. One table per kind of fault, one row per case;
// each row gives the files before, a shell command, the expected exit
// status and message, and every file of the folder afterwards (so a stray
// temporary file fails the row).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "TestSupport.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

enum class Kind { Regular, Absent, Fifo, Link, Folder, CharDevice };

// A file in the test folder (or an absolute path), before or after a run.
struct FileState {
  std::string name;
  Kind kind = Kind::Regular;
  std::string content;      // Regular: the bytes; Link: the link's target
  bool prefixOnly = false;  // after a run: `content` is how the file starts
  int mode = -1;            // permission bits to set before / expect after
};

FileState file(std::string name, std::string content, int mode = -1) {
  return {std::move(name), Kind::Regular, std::move(content), false, mode};
}
FileState startingWith(std::string name, std::string start) {
  return {std::move(name), Kind::Regular, std::move(start), true, -1};
}
FileState absent(std::string name) { return {std::move(name), Kind::Absent, "", false, -1}; }
FileState fifo(std::string name) { return {std::move(name), Kind::Fifo, "", false, -1}; }
FileState symbolicLink(std::string name, std::string target) {
  return {std::move(name), Kind::Link, std::move(target), false, -1};
}
FileState folder(std::string name, int mode = -1) {
  return {std::move(name), Kind::Folder, "", false, mode};
}
FileState charDevice(std::string name) {
  return {std::move(name), Kind::CharDevice, "", false, -1};
}

struct Row {
  const char* name;  // test name: letters, digits and underscores
  std::vector<FileState> before;
  // Run by /bin/sh in the test folder. {velmora-synth} and the like stand
  // for the built programs; `waitfor PATTERN` waits (up to 10 s) until a
  // file matching the glob pattern exists; `unprivileged COMMAND` runs it
  // as nobody when the tests run as root (rows with needsNonRoot).
  std::string command;
  int exitCode;
  std::string errorHas;  // a fragment of stderr; empty: stderr must be empty
  std::vector<FileState> after;
  std::string outputHas = {};  // a fragment of stdout, when it matters
  bool needsNonRoot = false;   // permissions do not stop root
};

std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

constexpr const char* kPrograms[] = {"Drovik",       "velmora-synth", "velmora-eval",
                                     "velmora-plot", "velmora-trace", "velmora-import",
                                     "velmora-tune", "velmora-live"};

// The first program the command names that this build left out (velmora-eval
// and velmora-tune without RE2, say), or "" when all were built.
std::string missingProgram(const std::string& command) {
  for (const char* program : kPrograms) {
    if (command.find(std::string("{") + program + "}") != std::string::npos &&
        !fs::exists(fs::path(VELMORA_BIN_DIR) / program)) {
      return program;
    }
  }
  return "";
}

std::string expandPrograms(std::string command) {
  for (const char* program : kPrograms) {
    const std::string token = std::string("{") + program + "}";
    const std::string binary = shellQuote(std::string(VELMORA_BIN_DIR) + "/" + program);
    for (auto at = command.find(token); at != std::string::npos; at = command.find(token, at)) {
      command.replace(at, token.size(), binary);
      at += binary.size();
    }
  }
  return command;
}

void createBefore(const fs::path& dir, const FileState& file) {
  const fs::path path = dir / file.name;
  switch (file.kind) {
    case Kind::Regular: {
      std::ofstream(path, std::ios::binary) << file.content;
      break;
    }
    case Kind::Fifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0) << file.name;
      break;
    case Kind::Link:
      fs::create_symlink(file.content, path);
      break;
    case Kind::Folder:
      fs::create_directories(path);
      break;
    case Kind::Absent:
    case Kind::CharDevice:
      break;
  }
  if (file.mode >= 0) {
    ASSERT_EQ(::chmod(path.c_str(), static_cast<mode_t>(file.mode)), 0) << file.name;
  }
}

void checkAfter(const fs::path& dir, const FileState& file) {
  const fs::path path = fs::path(file.name).is_absolute() ? fs::path(file.name) : dir / file.name;
  struct stat status {};
  const bool exists = ::lstat(path.c_str(), &status) == 0;
  SCOPED_TRACE(file.name);
  switch (file.kind) {
    case Kind::Absent:
      EXPECT_FALSE(exists);
      return;
    case Kind::Regular:
      ASSERT_TRUE(exists && S_ISREG(status.st_mode));
      if (file.prefixOnly) {
        EXPECT_EQ(readFile(path).substr(0, file.content.size()), file.content);
      } else {
        EXPECT_EQ(readFile(path), file.content);
      }
      break;
    case Kind::Fifo:
      EXPECT_TRUE(exists && S_ISFIFO(status.st_mode));
      break;
    case Kind::Link:
      ASSERT_TRUE(exists && S_ISLNK(status.st_mode));
      EXPECT_EQ(fs::read_symlink(path).string(), file.content);
      break;
    case Kind::Folder:
      EXPECT_TRUE(exists && S_ISDIR(status.st_mode));
      return;
    case Kind::CharDevice:
      EXPECT_TRUE(exists && S_ISCHR(status.st_mode));
      break;
  }
  if (file.mode >= 0) {
    EXPECT_EQ(status.st_mode & 07777, static_cast<mode_t>(file.mode));
  }
}

class OutputSafety : public ::testing::TestWithParam<Row> {};

TEST_P(OutputSafety, LeavesFilesAsExpected) {
  const Row& row = GetParam();
  if (row.needsNonRoot && ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "running as root, which file permissions do not stop, without setpriv "
                    "(Debian package util-linux) to drop that";
  }
  if (const std::string missing = missingProgram(row.command); !missing.empty()) {
    GTEST_SKIP() << missing << " was not built (left out at configure time)";
  }
  const TempDir scratch;
  const fs::path dir = scratch.path() / "work";
  fs::create_directory(dir);
  for (const FileState& file : row.before) {
    createBefore(dir, file);
  }
  const fs::path outPath = scratch.path() / "stdout";
  const fs::path errPath = scratch.path() / "stderr";
  const std::string script =
      "waitfor() { i=0; while [ $i -lt 200 ]; do for f in $1; do [ -e \"$f\" ] && return 0; "
      "done; sleep 0.05; i=$((i+1)); done; return 1; }\n"
      "unprivileged() { if [ \"$(id -u)\" = 0 ]; then setpriv --reuid=65534 --regid=65534 "
      "--clear-groups \"$@\"; else \"$@\"; fi; }\n"
      "cd " +
      shellQuote(dir.string()) + " || exit 99\n{ " + expandPrograms(row.command) + "\n} >" +
      shellQuote(outPath.string()) + " 2>" + shellQuote(errPath.string());
  const int status = std::system(("/bin/sh -c " + shellQuote(script)).c_str());
  ASSERT_TRUE(WIFEXITED(status));
  const std::string out = readFile(outPath);
  const std::string err = readFile(errPath);
  EXPECT_EQ(WEXITSTATUS(status), row.exitCode) << err;
  if (row.errorHas.empty()) {
    EXPECT_EQ(err, "");
  } else {
    EXPECT_NE(err.find(row.errorHas), std::string::npos) << err;
  }
  EXPECT_NE(out.find(row.outputHas), std::string::npos) << out.substr(0, 200);

  // Restore permissions first, so a read-only folder can be inspected and
  // removed.
  for (const FileState& file : row.before) {
    if (file.kind == Kind::Folder) {
      ::chmod((dir / file.name).c_str(), 0755);
    }
  }
  std::set<std::string> expected;
  for (const FileState& file : row.after) {
    checkAfter(dir, file);
    if (file.kind != Kind::Absent && !fs::path(file.name).is_absolute()) {
      expected.insert(file.name);
    }
  }
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    found.insert(entry.path().lexically_relative(dir).string());
  }
  EXPECT_EQ(found, expected) << "files in the folder after the run";
}

std::string rowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

const std::string kRecordingStart = "Synthetic recording by velmora-synth";
// Seven header lines and one upright sample.
const std::string kOneSample = "h\nh\nh\nh\nh\nh\nh\n0,0,-8192,0,0,0,0\n";
// Seven header lines and three quiet samples, for velmora-eval.
const std::string kTinyRecording =
    "h\nh\nh\nh\nh\nh\nh\n0,0,-8192,0,0,0,0\n0,0,-8192,0,0,0,0\n0,0,-8192,0,0,0,0\n";

// Seven header lines and 400 upright samples: a trace CSV of some 60 KB.
const std::string kLongRecording = [] {
  std::string text = "h\nh\nh\nh\nh\nh\nh\n";
  for (int i = 0; i < 400; ++i) {
    text += "0,0,-8192,0,0,0,0\n";
  }
  return text;
}();

// ---- A failed or interrupted write leaves the old file as it was ---------

const Row kFailedWrites[] = {
    {"SynthOverFileSizeLimit",
     {file("rec.csv", "old\n")},
     "ulimit -f 8; {velmora-synth} --walk 600 walking rec.csv",
     1,
     "cannot write 'rec.csv': File too large",
     {file("rec.csv", "old\n")}},
    {"SynthIntoReadOnlyFolder",
     {folder("ro"), file("ro/rec.csv", "old\n"), folder("ro", 0555)},
     "unprivileged {velmora-synth} walking ro/rec.csv",
     1,
     "cannot create a temporary file in 'ro'",
     {folder("ro"), file("ro/rec.csv", "old\n")},
     "",
     true},
    {"SynthTerminatedMidWrite",
     // The recording is a FIFO nobody reads: the program blocks after the
     // annotation's temporary file exists, and is stopped there.
     {file("rec.info", "rec,5,1\n"), fifo("rec.csv")},
     "{velmora-synth} fall-forward rec.csv & waitfor '.rec.info.tmp-*' || echo 'no temporary file "
     "seen' >&2; kill -TERM $!; wait $! 2>/dev/null",
     128 + 15,
     "",
     {file("rec.info", "rec,5,1\n"), fifo("rec.csv")}},
    {"SynthInterruptedMidWrite",
     // As SynthTerminatedMidWrite, with Ctrl-C; a background job starts
     // with SIGINT ignored, so it is given its default action back.
     {file("rec.info", "rec,5,1\n"), fifo("rec.csv")},
     "env --default-signal=INT {velmora-synth} fall-forward rec.csv & waitfor '.rec.info.tmp-*' || "
     "echo 'no temporary file seen' >&2; kill -INT $!; wait $! 2>/dev/null",
     128 + 2,
     "",
     {file("rec.info", "rec,5,1\n"), fifo("rec.csv")}},
    {"SynthStandardOutputFull",
     {},
     "{velmora-synth} walking - >/dev/full",
     1,
     "velmora-synth: error writing standard output: No space left on device\n",
     {}},
    {"SynthStandardOutputClosed",
     {},
     "{velmora-synth} walking - >&-",
     1,
     "error writing standard output: Bad file descriptor",
     {}},
    {"PlotUnreadableRecordingKeepsTheOldFigure",
     {file("out.svg", "old\n")},
     "{velmora-plot} -o out.svg missing.csv",
     1,
     "cannot open 'missing.csv'",
     {file("out.svg", "old\n")}},
    {"PlotStandardOutputFull",
     {file("r.csv", kOneSample)},
     "{velmora-plot} r.csv >/dev/full",
     1,
     "velmora-plot: error writing standard output: No space left on device\n",
     {file("r.csv", kOneSample)}},
    {"TraceCsvOverFileSizeLimitKeepsTheOldFile",
     // The rows go to the temporary file as they are made; the limit stops
     // that midway, and the temporary file goes with the failure.
     {file("r.csv", kLongRecording), file("out.csv", "old\n")},
     "ulimit -f 8; {velmora-trace} --csv out.csv r.csv",
     1,
     "cannot write 'out.csv': File too large",
     {file("r.csv", kLongRecording), file("out.csv", "old\n")}},
    {"TraceStandardOutputFull",
     {file("r.csv", kOneSample)},
     "{velmora-trace} r.csv >/dev/full",
     1,
     "velmora-trace: error writing standard output: No space left on device\n",
     {file("r.csv", kOneSample)}},
    {"SynthBrokenPipeIsQuiet",
     {},
     "{ {velmora-synth} --walk 600 walking -; echo $? >status; } | head -c 100 >/dev/null; "
     "exit $(cat status)",
     0,
     "",
     {file("status", "0\n")}},
    {"EvalOutputWriteFailsOldFilesKept",
     {file("r.csv", kTinyRecording), file("out.json", "old\n")},
     "{velmora-eval} --json out.json --csv /dev/full r.csv",
     1,
     "cannot write '/dev/full': No space left on device",
     {file("r.csv", kTinyRecording), file("out.json", "old\n")}},
    {"EvalFilesCompleteBeforeTheTableGoesOut",
     {file("r.csv", kTinyRecording), file("out.csv", "old\n")},
     "{velmora-eval} --csv out.csv r.csv | head -c 10 >/dev/null",
     0,
     "",
     {file("r.csv", kTinyRecording),
      file("out.csv",
           "recording,samples,detections,first_index,first_code,fall_position,delay_ms,outcome,"
           "alarms,short_lines,group,problem,in_sample\nr.csv,3,0,,,,,tn,0,0,,,\n")}},
};
INSTANTIATE_TEST_SUITE_P(FailedWrite, OutputSafety, ::testing::ValuesIn(kFailedWrites), rowName);

// ---- An output onto an input, or onto another output, is refused ---------

const Row kOutputsOntoInputs[] = {
    {"SynthRecordingNamedLikeItsAnnotation",
     {file("x.info", "keep\n")},
     "{velmora-synth} fall-forward x.info",
     2,
     "a recording cannot end in .info",
     {file("x.info", "keep\n")}},
    {"SynthEmptyOutputPath",
     {},
     "{velmora-synth} walking ''",
     2,
     "needs a file name, not an empty one",
     {}},
    {"SynthOutputIsFolder",
     {folder("d")},
     "{velmora-synth} walking d",
     2,
     "'d' is a folder",
     {folder("d")}},
    {"PlotOutputOntoItsRecording",
     {file("r.csv", kOneSample)},
     "{velmora-plot} -o r.csv r.csv",
     2,
     "-o 'r.csv' is the same file as the recording 'r.csv'",
     {file("r.csv", kOneSample)}},
    {"PlotOutputOntoTheSiblingInfoFile",
     {file("r.csv", kOneSample), file("r.info", "r,0,1\n")},
     "{velmora-plot} -o r.info r.csv",
     2,
     "the same file as the info file 'r.info'",
     {file("r.csv", kOneSample), file("r.info", "r,0,1\n")}},
    {"PlotPngOntoTheSettingsFile",
     {file("r.csv", kOneSample), file("s.txt", "lowLevel=50\n")},
     "{velmora-plot} --settings s.txt --png s.txt r.csv",
     2,
     "--png 's.txt' is the same file as the settings file 's.txt'",
     {file("r.csv", kOneSample), file("s.txt", "lowLevel=50\n")}},
    {"PlotBothOutputsOneFile",
     {file("r.csv", kOneSample)},
     "{velmora-plot} -o a.svg --png ./a.svg r.csv",
     2,
     "--png './a.svg' is the same file as -o 'a.svg'",
     {file("r.csv", kOneSample)}},
    {"PlotEmptyOutputPath",
     {file("r.csv", kOneSample)},
     "{velmora-plot} -o '' r.csv",
     2,
     "-o needs a file name, not an empty one",
     {file("r.csv", kOneSample)}},
    {"TraceCsvOntoItsRecording",
     {file("r.csv", kOneSample)},
     "{velmora-trace} --csv r.csv r.csv",
     2,
     "--csv 'r.csv' is the same file as recording 'r.csv'",
     {file("r.csv", kOneSample)}},
    {"TraceCsvOntoSettingsFile",
     {file("r.csv", kOneSample), file("s.txt", "lowLevel=50\n")},
     "{velmora-trace} --settings s.txt --csv s.txt r.csv",
     2,
     "--csv 's.txt' is the same file as the settings file 's.txt'",
     {file("r.csv", kOneSample), file("s.txt", "lowLevel=50\n")}},
    {"TraceCsvEmptyOutputPath",
     {file("r.csv", kOneSample)},
     "{velmora-trace} --csv '' r.csv",
     2,
     "--csv needs a file name, not an empty one",
     {file("r.csv", kOneSample)}},
    {"SynthOutputIsLinkLoop",
     {symbolicLink("a.csv", "b.csv"), symbolicLink("b.csv", "a.csv")},
     "{velmora-synth} walking a.csv",
     2,
     "Too many levels of symbolic links",
     {symbolicLink("a.csv", "b.csv"), symbolicLink("b.csv", "a.csv")}},
    {"EvalSettingsFileIsFifo",
     {fifo("s.txt"), file("r.csv", "")},
     "{velmora-eval} --settings s.txt r.csv",
     2,
     "settings file 's.txt' is not a regular file",
     {fifo("s.txt"), file("r.csv", "")}},
    {"EvalSettingsFileIsEndless",
     {},
     "{velmora-eval} --settings /dev/zero r.csv",
     2,
     "settings file '/dev/zero' is not a regular file",
     {}},
    {"EvalSettingsFileOverOneMebibyte",
     {},
     "head -c 1048577 /dev/zero | tr '\\0' '#' >s.txt; {velmora-eval} --settings s.txt r.csv",
     2,
     "settings file 's.txt' is larger than 1048576 bytes",
     {startingWith("s.txt", "#")}},
    {"EvalCsvOntoInfoFile",
     {file("r.csv", kTinyRecording), file("r.info", "r,1,1\n")},
     "{velmora-eval} --csv r.info r.csv",
     2,
     "--csv 'r.info' is the same file as info file 'r.info'",
     {file("r.csv", kTinyRecording), file("r.info", "r,1,1\n")}},
    {"EvalCsvOntoSettingsFile",
     {file("r.csv", kTinyRecording), file("s.txt", "lowLevel=50\n")},
     "{velmora-eval} --settings s.txt --csv s.txt r.csv",
     2,
     "--csv 's.txt' is the same file as the settings file 's.txt'",
     {file("r.csv", kTinyRecording), file("s.txt", "lowLevel=50\n")}},
    {"EvalCsvOntoFileInSearchedFolder",
     {folder("d"), file("d/r.csv", kTinyRecording), file("d/old.csv", kTinyRecording)},
     "{velmora-eval} --csv d/old.csv d",
     2,
     "--csv 'd/old.csv' is the same file as recording 'd/old.csv'",
     {folder("d"), file("d/r.csv", kTinyRecording), file("d/old.csv", kTinyRecording)}},
    {"EvalTwoOutputsOneFile",
     {file("r.csv", kTinyRecording), file("a", "keep\n")},
     "{velmora-eval} --csv a --summary-csv a r.csv",
     2,
     "--summary-csv 'a' is the same file as --csv 'a'",
     {file("r.csv", kTinyRecording), file("a", "keep\n")}},
    {"EvalEmptyOutputPath",
     {file("r.csv", kTinyRecording)},
     "{velmora-eval} --json '' r.csv",
     2,
     "--json needs a file name, not an empty one",
     {file("r.csv", kTinyRecording)}},
};
INSTANTIATE_TEST_SUITE_P(OutputOntoInput, OutputSafety, ::testing::ValuesIn(kOutputsOntoInputs),
                         rowName);

// ---- Special files stay special; links are followed and kept -------------

const Row kSpecialFiles[] = {
    {"SynthToDevNull", {}, "{velmora-synth} walking /dev/null", 0, "", {charDevice("/dev/null")}},
    {"SynthToDevStdout", {}, "{velmora-synth} walking /dev/stdout", 0, "", {}, kRecordingStart},
    {"SynthToOpenDescriptor",
     {},
     "{velmora-synth} walking /dev/fd/3 3>got",
     0,
     "",
     {startingWith("got", kRecordingStart)}},
    {"SynthToNamedPipe",
     {fifo("p.csv")},
     "cat p.csv >got & {velmora-synth} walking p.csv; wait",
     0,
     "",
     {fifo("p.csv"), startingWith("got", kRecordingStart)}},
    {"SynthThroughLinkReplacesTheFileItNames",
     {file("target.csv", "old\n"), symbolicLink("rec.csv", "target.csv")},
     "{velmora-synth} walking rec.csv",
     0,
     "",
     {startingWith("target.csv", kRecordingStart), symbolicLink("rec.csv", "target.csv")}},
    {"SynthThroughDanglingLinkCreatesTheFileItNames",
     {symbolicLink("rec.csv", "target.csv")},
     "{velmora-synth} walking rec.csv",
     0,
     "",
     {startingWith("target.csv", kRecordingStart), symbolicLink("rec.csv", "target.csv")}},
    {"SynthKeepsPermissionsOfReplacedFile",
     {file("rec.csv", "old\n", 0640)},
     "{velmora-synth} walking rec.csv",
     0,
     "",
     {{"rec.csv", Kind::Regular, kRecordingStart, true, 0640}}},
    {"SynthNewFileFollowsUmask",
     {},
     "umask 027; {velmora-synth} walking rec.csv",
     0,
     "",
     {{"rec.csv", Kind::Regular, kRecordingStart, true, 0640}}},
};
INSTANTIATE_TEST_SUITE_P(SpecialFile, OutputSafety, ::testing::ValuesIn(kSpecialFiles), rowName);

// ---- Annotations: never stale, never malformed ---------------------------

const Row kAnnotations[] = {
    {"SynthFallWritesItsAnnotation",
     {},
     "{velmora-synth} fall-forward rec.csv",
     0,
     "",
     {startingWith("rec.csv", kRecordingStart), file("rec.info", "rec,444,1\n")}},
    {"SynthDailyLivingRemovesStaleAnnotation",
     {file("rec.csv", "old\n"), file("rec.info", "rec,5,1\n")},
     "{velmora-synth} walking rec.csv",
     0,
     "",
     {startingWith("rec.csv", kRecordingStart), absent("rec.info")}},
    {"SynthStaleAnnotationLinkGoesTheFileStays",
     {file("shared.info", "rec,5,1\n"), symbolicLink("rec.info", "shared.info")},
     "{velmora-synth} walking rec.csv",
     0,
     "",
     {startingWith("rec.csv", kRecordingStart), file("shared.info", "rec,5,1\n")}},
    {"SynthNameWithCommaRefused",
     {},
     "{velmora-synth} fall-forward 'a,b.csv'",
     2,
     "cannot go into its .info line",
     {}},
    {"SynthNameWithLineBreakRefused",
     {},
     "{velmora-synth} fall-forward 'a\nb.csv'",
     2,
     "'a\\nb.csv': the recording's name cannot go into its .info line",
     {}},
    {"PlotAnnotationOutsideTheRecording",
     {file("r.csv", kOneSample), file("r.info", "r,5,1\n")},
     "{velmora-plot} -o out.svg r.csv",
     1,
     "the annotated position 5 lies outside the recording (1 samples)",
     {file("r.csv", kOneSample), file("r.info", "r,5,1\n")}},
    {"SynthFallToStandardOutputRefused",
     {},
     "{velmora-synth} fall-forward -",
     2,
     "'-' cannot take them",
     {}},
    {"EvalInfoPositionNotANumber",
     {file("r.csv", kTinyRecording), file("r.info", "r,abc,1\n")},
     "{velmora-eval} r.csv",
     1,
     "r.csv: info file 'r.info': fall position 'abc' is not a decimal integer",
     {file("r.csv", kTinyRecording), file("r.info", "r,abc,1\n")}},
    {"EvalInfoPositionWraps",
     {file("r.csv", kTinyRecording), file("r.info", "r,4294967297,1\n")},
     "{velmora-eval} r.csv",
     1,
     "fall position 4294967297 does not fit in 32 bits",
     {file("r.csv", kTinyRecording), file("r.info", "r,4294967297,1\n")}},
    {"EvalInfoPositionPastTheEnd",
     {file("r.csv", kTinyRecording), file("r.info", "r,3,1\n")},
     "{velmora-eval} r.csv",
     1,
     "fall position 3 is at or beyond the end of the recording (3 data lines)",
     {file("r.csv", kTinyRecording), file("r.info", "r,3,1\n")}},
    {"EvalInfoIsFifo",
     {file("r.csv", kTinyRecording), fifo("r.info")},
     "{velmora-eval} r.csv",
     1,
     "info file 'r.info' is not a regular file",
     {file("r.csv", kTinyRecording), fifo("r.info")}},
};
INSTANTIATE_TEST_SUITE_P(Annotation, OutputSafety, ::testing::ValuesIn(kAnnotations), rowName);

// ---- Command-line habits --------------------------------------------------

const Row kCommandLine[] = {
    {"SynthVersion",
     {},
     "{velmora-synth} --version",
     0,
     "",
     {},
     "velmora-synth (Velmora detector) "},
    {"SynthDoubleDashEndsOptions",
     {},
     "{velmora-synth} -- walking -odd.csv",
     0,
     "",
     {startingWith("-odd.csv", kRecordingStart)}},
    {"SynthStandardOutput", {}, "{velmora-synth} walking -", 0, "", {}, kRecordingStart},
    {"PlotVersion", {}, "{velmora-plot} --version", 0, "", {}, "velmora-plot (Velmora detector) "},
    {"PlotReadsStandardInput",
     {file("r.csv", kOneSample)},
     "{velmora-plot} - <r.csv",
     0,
     "",
     {file("r.csv", kOneSample)},
     "(standard input): no alarm"},
    {"PlotDoubleDashEndsOptions",
     {file("-r.csv", kOneSample)},
     "{velmora-plot} -o out.svg -- -r.csv",
     0,
     "",
     {file("-r.csv", kOneSample), startingWith("out.svg", "<?xml")}},
    {"SynthEscapesControlBytesInMessages",
     {},
     "{velmora-synth} \"$(printf 'x\\033[31m\\377')\" rec.csv",
     2,
     "unknown scenario 'x\\x1B[31m\\xFF'",
     {}},
    {"EvalVersion", {}, "{velmora-eval} --version", 0, "", {}, "velmora-eval (Velmora detector) "},
    {"EvalDoubleDashEndsOptions",
     {file("-odd.csv", kTinyRecording)},
     "{velmora-eval} -q --csv - -- -odd.csv",
     0,
     "",
     {file("-odd.csv", kTinyRecording)},
     "\n-odd.csv,3,0,,,,,tn,0,0,,,\n"},
    {"EvalTwoOutputsOnStandardOutput",
     {file("r.csv", kTinyRecording)},
     "{velmora-eval} --json - --summary-csv - r.csv",
     2,
     "--json and --summary-csv cannot both write standard output",
     {file("r.csv", kTinyRecording)}},
    {"EvalRefusesStandardInputAsRecording",
     {file("r.csv", kTinyRecording)},
     "{velmora-eval} - <r.csv",
     2,
     "'-' (standard input) cannot be a recording",
     {file("r.csv", kTinyRecording)}},
    {"EvalRefusesStandardInputAsSettings",
     {file("r.csv", kTinyRecording)},
     "echo avgWindow=10 | {velmora-eval} --settings - r.csv",
     2,
     "--settings needs a file: '-' (standard input) cannot be read",
     {file("r.csv", kTinyRecording)}},
    {"LiveUnknownOptionNamesTheOneMeant",
     {},
     "{velmora-live} --jsno </dev/null",
     2,
     "velmora-live: unknown option '--jsno'; did you mean '--json'?",
     {}},
    {"LiveNamesEveryMissingCsvOptionAtOnce",
     {},
     "{velmora-live} --format csv --acc a,b,c --gyro-unit dps --rate 50 </dev/null",
     2,
     "missing required options for --format csv: --gyro, --acc-unit",
     {}},
    {"LiveRefusesStandardInputAsAFollowedFile",
     {},
     "{velmora-live} --follow - </dev/null",
     2,
     "--follow needs a file: '-' (standard input) is read without --follow",
     {}},
};
INSTANTIATE_TEST_SUITE_P(CommandLine, OutputSafety, ::testing::ValuesIn(kCommandLine), rowName);

// ---- The importer keeps what exists and reads inputs safely ---------------

const std::string kStillLog = "ax,ay,az,gx,gy,gz\n" + [] {
  std::string rows;
  for (int i = 0; i < 60; ++i) {
    rows += "0,-1,0,0,0,0\n";
  }
  return rows;
}();
const std::string kImportCsv =
    "{velmora-import} csv --acc ax,ay,az --gyro gx,gy,gz --acc-unit g --gyro-unit dps --rate 50 ";
const std::string kImportedStart = "Recording imported by velmora-import csv";
const std::string kIndexStart = "file\tdataset\tactivity_code";

const Row kImporter[] = {
    {"ImportListsExistingOutputsAndWritesNothing",
     {file("rec.csv", kStillLog), file("new.csv", kStillLog), folder("o"),
      file("o/rec.csv", "mine\n")},
     kImportCsv + "-o o new.csv rec.csv",
     1,
     "these outputs exist already; nothing was written (--force replaces them):\n  o/rec.csv\n",
     {file("rec.csv", kStillLog), file("new.csv", kStillLog), folder("o"),
      file("o/rec.csv", "mine\n")}},
    {"ImportForceReplacesWithTheAnnotation",
     {file("rec.csv", kStillLog), folder("o"), file("o/rec.csv", "mine\n")},
     kImportCsv + "--force --fall-at 0.5 -o o rec.csv",
     0,
     "",
     {file("rec.csv", kStillLog), folder("o"), startingWith("o/rec.csv", kImportedStart),
      file("o/rec.info", "rec,25,1\n"), startingWith("o/index.tsv", kIndexStart)}},
    {"ImportFailureKeepsTheOldFiles",
     {file("rec.csv", kStillLog + "1,2,x,4,5,6\n"), folder("o"), file("o/rec.csv", "mine\n"),
      file("o/rec.info", "rec,3,1\n")},
     kImportCsv + "--force -o o rec.csv",
     1,
     "rec.csv: line 62: column 'az': expected a number, found 'x'",
     {file("rec.csv", kStillLog + "1,2,x,4,5,6\n"), folder("o"), file("o/rec.csv", "mine\n"),
      file("o/rec.info", "rec,3,1\n")}},
    {"ImportWithoutAnnotationRemovesStaleInfo",
     {file("rec.csv", kStillLog), folder("o"), file("o/rec.info", "rec,3,1\n")},
     kImportCsv + "--force -o o rec.csv",
     0,
     "",
     {file("rec.csv", kStillLog), folder("o"), startingWith("o/rec.csv", kImportedStart),
      absent("o/rec.info"), startingWith("o/index.tsv", kIndexStart)}},

    {"ImportRefusesANameThatBreaksTheInfoLine",
     {file("fall,2.csv", kStillLog)},
     kImportCsv + "--fall-at 0 -o o 'fall,2.csv'",
     1,
     "cannot name a recording 'fall,2': it holds a comma",
     {file("fall,2.csv", kStillLog), folder("o")}},
    {"ImportStopsAnEndlessLineAfterABoundedRead",
     {file("long.csv", std::string(70000, '0'))},
     kImportCsv + "-o o long.csv",
     1,
     "long.csv: line 1: longer than 65536 bytes without a line end",
     {file("long.csv", std::string(70000, '0')), folder("o")}},
    {"ImportRefusesAnOutputFolderInsideAnInputFolder",
     {folder("raw"), file("raw/F01_SA01_R01.txt", " 0, -256, 0, 0, 0, 0, 0, 0, 0;\n")},
     "{velmora-import} sisfall -o raw/out raw",
     2,
     "the output folder 'raw/out' lies in the input folder 'raw', which is being read",
     {folder("raw"), file("raw/F01_SA01_R01.txt", " 0, -256, 0, 0, 0, 0, 0, 0, 0;\n")}},
    {"ImportRefusesAnInputAsItsOwnOutput",
     {file("rec.csv", kStillLog)},
     kImportCsv + "--force -o . rec.csv",
     2,
     "is the same file as input",
     {file("rec.csv", kStillLog)}},
    {"ImportDoubleDashEndsOptions",
     {file("-rec.csv", kStillLog)},
     kImportCsv + "-o o -- -rec.csv",
     0,
     "",
     {file("-rec.csv", kStillLog), folder("o"), startingWith("o/-rec.csv", kImportedStart),
      startingWith("o/index.tsv", kIndexStart)}},
    {"ImportRefusesStandardOutputAsFolder",
     {file("F01_SA01_R01.txt", " 0, -256, 0, 0, 0, 0, 0, 0, 0;\n")},
     "{velmora-import} sisfall -o - F01_SA01_R01.txt",
     2,
     "'-' (standard output) cannot take them",
     {file("F01_SA01_R01.txt", " 0, -256, 0, 0, 0, 0, 0, 0, 0;\n")}},
    {"ImportCsvRefusesStandardInputBeforeMakingTheFolder",
     {file("rec.csv", kStillLog)},
     kImportCsv + "-o o - <rec.csv",
     2,
     "'-' (standard input) cannot be an input: csv reads files by name",
     {file("rec.csv", kStillLog)}},
    {"ImportCheckRefusesStandardInput",
     {file("rec.csv", kStillLog)},
     "{velmora-import} check - <rec.csv",
     2,
     "'-' (standard input) cannot be an input: check reads files by name",
     {file("rec.csv", kStillLog)}},
    {"ImportVersion",
     {},
     "{velmora-import} --version",
     0,
     "",
     {},
     "velmora-import (Velmora detector) "},
};
INSTANTIATE_TEST_SUITE_P(Importer, OutputSafety, ::testing::ValuesIn(kImporter), rowName);

// ---- A recording must be a regular file: a FIFO is never waited on -------

const Row kSpecialInputs[] = {
    {"EvalRefusesAFifo",
     {fifo("f.csv")},
     "{velmora-eval} -q f.csv",
     2,
     "recording 'f.csv' is not a regular file",
     {fifo("f.csv")}},
    {"EvalRefusesAnEndlessDevice",
     {},
     "{velmora-eval} /dev/zero",
     2,
     "recording '/dev/zero' is not a regular file",
     {}},
    {"EvalPassesOverAFifoInAFolderWithANote",
     {folder("d"), fifo("d/f.csv"), file("d/r.csv", kTinyRecording)},
     "{velmora-eval} -q d",
     0,
     "note: skipped 'd/f.csv': it is not a regular file",
     {folder("d"), fifo("d/f.csv"), file("d/r.csv", kTinyRecording)}},
    {"PlotRefusesAFifoKeepingTheOldFigure",
     {fifo("f.csv"), file("x.svg", "old\n")},
     "{velmora-plot} -o x.svg f.csv",
     2,
     "recording 'f.csv' is not a regular file",
     {fifo("f.csv"), file("x.svg", "old\n")}},
    {"TraceRefusesAFifo",
     {fifo("f.csv")},
     "{velmora-trace} --csv out.csv f.csv",
     2,
     "recording 'f.csv' is not a regular file",
     {fifo("f.csv")}},
    {"TuneRefusesAFifo",
     {fifo("f.csv")},
     "{velmora-tune} sweep --vary lowLevel=50:60 f.csv",
     2,
     "recording 'f.csv' is not a regular file",
     {fifo("f.csv")}},
    {"ImportCsvRefusesAFifoKeepingOldFiles",
     {fifo("rec.csv"), folder("o"), file("o/rec.csv", "mine\n")},
     kImportCsv + "--force -o o rec.csv",
     2,
     "input 'rec.csv' is not a regular file",
     {fifo("rec.csv"), folder("o"), file("o/rec.csv", "mine\n")}},
    {"ImportSisfallRefusesAFifoWithADatasetName",
     {fifo("F01_SA01_R01.txt")},
     "{velmora-import} sisfall -o o F01_SA01_R01.txt",
     2,
     "input 'F01_SA01_R01.txt' is not a regular file",
     {fifo("F01_SA01_R01.txt")}},
    {"ImportUmafallPassesOverAFifoInAFolderWithANote",
     {folder("raw"), fifo("raw/UMAFall_Subject_01_ADL_Walking_1_2017-04-14_23-38-23.csv")},
     "{velmora-import} umafall -o o raw",
     1,
     "UMAFall_Subject_01_ADL_Walking_1_2017-04-14_23-38-23.csv' is not a regular file (a device, "
     "FIFO or socket); passed over",
     {folder("raw"), fifo("raw/UMAFall_Subject_01_ADL_Walking_1_2017-04-14_23-38-23.csv")}},
};
INSTANTIATE_TEST_SUITE_P(SpecialInput, OutputSafety, ::testing::ValuesIn(kSpecialInputs), rowName);

// ---- The message escaping itself -----------------------------------------

TEST(PrintableText, EscapesControlAndInvalidBytesKeepsValidUtf8) {
  const std::pair<std::string, std::string> rows[] = {
      {"plain/path.csv", "plain/path.csv"},
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"\x1b[2J\x7f", "\\x1B[2J\\x7F"},
      {"caf\xc3\xa9 \xec\xb6\x94\xeb\x9d\xbd", "caf\xc3\xa9 \xec\xb6\x94\xeb\x9d\xbd"},
      {"\xc2\x9b"
       "1m",
       "\\xC2\\x9B1m"},                     // C1 control (CSI)
      {"\xff\xfe", "\\xFF\\xFE"},           // never valid
      {"\xc0\xaf", "\\xC0\\xAF"},           // overlong '/'
      {"\xed\xa0\x80", "\\xED\\xA0\\x80"},  // surrogate
      {"\xe2\x82", "\\xE2\\x82"},           // cut short
      {std::string("a\0b", 3), "a\\x00b"},
  };
  for (const auto& [raw, shown] : rows) {
    EXPECT_EQ(printable(raw), shown);
  }
}

}  // namespace
