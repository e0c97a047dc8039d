// velmora-plot run as a user runs it: the figure must be well-formed XML, and
// its markers must agree with what velmora-trace reports for the same replay.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::recordingText;
using testsupport::runProgram;
using testsupport::TempDir;

// Returns "" for a well-formed XML document, else what is wrong and where:
// one root element, matching tags, quoted attributes without '<', known or
// numeric entity references, valid UTF-8 and no control characters.
std::string xmlProblem(std::string_view doc) {
  const auto at = [&doc](std::size_t pos) { return " at byte " + std::to_string(pos); };
  for (std::size_t i = 0; i < doc.size();) {
    const auto byte = static_cast<unsigned char>(doc[i]);
    std::size_t length = byte < 0x80    ? 1
                         : byte >= 0xf0 ? 4
                         : byte >= 0xe0 ? 3
                         : byte >= 0xc2 ? 2
                                        : 0;
    if (length == 0 || i + length > doc.size()) {
      return "invalid UTF-8" + at(i);
    }
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(doc[i + k]) & 0xc0) != 0x80) {
        return "invalid UTF-8" + at(i);
      }
    }
    if (byte < 0x20 && byte != '\n' && byte != '\t' && byte != '\r') {
      return "control character" + at(i);
    }
    i += length;
  }
  const auto isNameChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' || c == ':' ||
           c == '.';
  };
  const auto checkText = [&](std::size_t from, std::size_t to) -> std::string {
    for (std::size_t i = from; i < to; ++i) {
      if (doc[i] == '<' || doc[i] == '>') {
        return std::string("unescaped '") + doc[i] + "'" + at(i);
      }
      if (doc[i] == '&') {
        const std::size_t end = doc.find(';', i);
        if (end == std::string_view::npos || end > to) {
          return "unterminated entity" + at(i);
        }
        const std::string_view name = doc.substr(i + 1, end - i - 1);
        const bool known = name == "amp" || name == "lt" || name == "gt" || name == "quot" ||
                           name == "apos" || (name.size() > 1 && name[0] == '#');
        if (!known) {
          return "unknown entity '" + std::string(name) + "'" + at(i);
        }
      }
    }
    return {};
  };
  std::vector<std::string> open;
  bool rootSeen = false;
  std::size_t pos = 0;
  while (pos < doc.size()) {
    const std::size_t lt = doc.find('<', pos);
    const std::size_t textEnd = lt == std::string_view::npos ? doc.size() : lt;
    if (std::string problem = checkText(pos, textEnd); !problem.empty()) {
      return problem;
    }
    if (open.empty()) {
      for (std::size_t i = pos; i < textEnd; ++i) {
        if (std::isspace(static_cast<unsigned char>(doc[i])) == 0) {
          return "text outside the root element" + at(i);
        }
      }
    }
    if (lt == std::string_view::npos) {
      break;
    }
    if (doc.substr(lt, 4) == "<!--") {
      const std::size_t end = doc.find("-->", lt);
      if (end == std::string_view::npos) {
        return "unterminated comment" + at(lt);
      }
      pos = end + 3;
      continue;
    }
    if (doc.substr(lt, 2) == "<?") {
      const std::size_t end = doc.find("?>", lt);
      if (end == std::string_view::npos || lt != 0) {
        return "misplaced or unterminated declaration" + at(lt);
      }
      pos = end + 2;
      continue;
    }
    std::size_t i = lt + 1;
    const bool closing = i < doc.size() && doc[i] == '/';
    i += closing ? 1 : 0;
    const std::size_t nameStart = i;
    while (i < doc.size() && isNameChar(doc[i])) {
      ++i;
    }
    const std::string name(doc.substr(nameStart, i - nameStart));
    if (name.empty()) {
      return "tag without a name" + at(lt);
    }
    if (closing) {
      while (i < doc.size() && std::isspace(static_cast<unsigned char>(doc[i])) != 0) {
        ++i;
      }
      if (i >= doc.size() || doc[i] != '>') {
        return "malformed end tag" + at(lt);
      }
      if (open.empty() || open.back() != name) {
        return "end tag </" + name + "> does not match" + at(lt);
      }
      open.pop_back();
      pos = i + 1;
      continue;
    }
    if (rootSeen && open.empty()) {
      return "second root element" + at(lt);
    }
    std::vector<std::string> attributes;
    for (;;) {
      while (i < doc.size() && std::isspace(static_cast<unsigned char>(doc[i])) != 0) {
        ++i;
      }
      if (i >= doc.size()) {
        return "unterminated tag" + at(lt);
      }
      if (doc[i] == '>' || doc.substr(i, 2) == "/>") {
        break;
      }
      const std::size_t attrStart = i;
      while (i < doc.size() && isNameChar(doc[i])) {
        ++i;
      }
      const std::string attribute(doc.substr(attrStart, i - attrStart));
      if (attribute.empty() || i + 1 >= doc.size() || doc[i] != '=' ||
          (doc[i + 1] != '"' && doc[i + 1] != '\'')) {
        return "malformed attribute" + at(attrStart);
      }
      for (const std::string& seen : attributes) {
        if (seen == attribute) {
          return "repeated attribute " + attribute + at(attrStart);
        }
      }
      attributes.push_back(attribute);
      const char quote = doc[i + 1];
      const std::size_t valueEnd = doc.find(quote, i + 2);
      if (valueEnd == std::string_view::npos) {
        return "unterminated attribute value" + at(attrStart);
      }
      for (std::size_t k = i + 2; k < valueEnd; ++k) {
        if (doc[k] == '<') {
          return "'<' in attribute value" + at(k);
        }
      }
      if (std::string problem = checkText(i + 2, valueEnd); !problem.empty()) {
        return problem;
      }
      i = valueEnd + 1;
    }
    rootSeen = true;
    if (doc[i] == '>') {
      open.push_back(name);
      pos = i + 1;
    } else {
      pos = i + 2;
    }
  }
  if (!open.empty()) {
    return "element <" + open.back() + "> is not closed";
  }
  return rootSeen ? "" : "no root element";
}

std::size_t countOf(const std::string& text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string::npos;
       pos = text.find(needle, pos + 1)) {
    ++count;
  }
  return count;
}

// Detections under the markers: a marker stands for every detection within
// its pixel, and says how many in data-count.
std::size_t markedDetections(const std::string& svg) {
  std::size_t total = 0;
  const std::string key = "class=\"detection\"";
  for (std::size_t pos = svg.find(key); pos != std::string::npos; pos = svg.find(key, pos + 1)) {
    const std::size_t count = svg.find("data-count=\"", pos);
    total += std::stoul(svg.substr(count + 12));
  }
  return total;
}

// The value of an attribute of the root element.
std::string rootAttribute(const std::string& svg, const std::string& name) {
  const std::size_t root = svg.find("<svg ");
  const std::size_t at = svg.find(" " + name + "=\"", root);
  if (root == std::string::npos || at == std::string::npos || at > svg.find('>', root)) {
    return "(none)";
  }
  const std::size_t start = at + name.size() + 3;
  return svg.substr(start, svg.find('"', start) - start);
}

std::string titleOf(const std::string& svg) {
  const std::size_t start = svg.find("<title>");
  return start == std::string::npos ? "" : svg.substr(start + 7, svg.find("</title>") - start - 7);
}

// Runs velmora-plot with `input` on standard input.
testsupport::RunResult plotFromStdin(const std::filesystem::path& input,
                                     const std::vector<std::string>& args) {
  const TempDir scratch;
  std::string command = "'" + std::string(VELMORA_BIN_DIR) + "/velmora-plot'";
  for (const std::string& arg : args) {
    command += " '" + arg + "'";
  }
  command += " <'" + input.string() + "' >'" + (scratch.path() / "out").string() + "' 2>'" +
             (scratch.path() / "err").string() + "'";
  const int status = std::system(command.c_str());
  testsupport::RunResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = readFile(scratch.path() / "out");
  result.err = readFile(scratch.path() / "err");
  return result;
}

// What velmora-trace says about the same replay: positions and codes of the
// samples with a fall code. Trace lines start with the detector's index,
// which equals the position when no line was skipped.
struct TracedDetections {
  std::vector<long> positions;
  std::vector<int> codes;
};

TracedDetections traceDetections(const std::vector<std::string>& args) {
  const auto result = runProgram("velmora-trace", args);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  TracedDetections traced;
  std::size_t lineStart = 0;
  while (lineStart < result.out.size()) {
    const std::size_t lineEnd = result.out.find('\n', lineStart);
    const std::string line = result.out.substr(lineStart, lineEnd - lineStart);
    if (const std::size_t arrow = line.find(" -> ("); arrow != std::string::npos) {
      traced.positions.push_back(std::stol(line.substr(0, line.find(':'))));
      traced.codes.push_back(std::stoi(line.substr(arrow + 5)));
    }
    if (lineEnd == std::string::npos) {
      break;
    }
    lineStart = lineEnd + 1;
  }
  return traced;
}

// Upright at rest, then `lowSamples` of near free fall, then lying still.
std::string fallRecording(int lowSamples) {
  std::vector<std::vector<int>> samples;
  for (int i = 0; i < 100; ++i) {
    samples.push_back({0, -8192, 0, 0, 0, 0});
  }
  for (int i = 0; i < lowSamples; ++i) {
    samples.push_back({0, -800, 0, 300, 0, 0});
  }
  for (int i = 0; i < 60; ++i) {
    samples.push_back({0, 0, 8192, 0, 0, 0});
  }
  return recordingText(samples);
}

// The checker itself must not pass everything.
TEST(PlotXmlChecker, RejectsMalformedDocuments) {
  EXPECT_EQ(xmlProblem("<?xml version=\"1.0\"?>\n<a x=\"1\"><b/>t &amp; &#38;</a>\n"), "");
  for (const std::string_view bad :
       {"<a><b></a></b>", "<a>x & y</a>", "<a x=1/>", "<a x=\"<\"/>", "<a/><b/>", "<a>",
        "<a x=\"1\" x=\"2\"/>", "<a>\xff</a>", "<a>\x01</a>", "<a>&nbsp;</a>", "text"}) {
    EXPECT_NE(xmlProblem(bad), "") << bad;
  }
}

TEST(PlotFigure, FallRecordingHasWellFormedMarkersMatchingTheTrace) {
  const TempDir dir;
  const auto data = dir.write("fall.csv", fallRecording(30));
  const auto info = dir.write("fall.info", "fall,116,1\n");
  const auto out = dir.path() / "fall.svg";
  const auto result =
      runProgram("velmora-plot", {"-o", out.string(), data.string(), info.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "");
  const std::string svg = readFile(out);
  ASSERT_EQ(xmlProblem(svg), "");
  EXPECT_FALSE(std::filesystem::exists(out.string() + ".part"));

  const TracedDetections traced = traceDetections({data.string()});
  ASSERT_FALSE(traced.positions.empty()) << "the recording no longer makes the detector fire";
  EXPECT_EQ(markedDetections(svg), traced.positions.size());
  const std::string first = "class=\"detection\" data-position=\"" +
                            std::to_string(traced.positions.front()) + "\" data-code=\"" +
                            std::to_string(traced.codes.front()) + "\"";
  EXPECT_NE(svg.find(first), std::string::npos) << first;

  EXPECT_EQ(countOf(svg, "class=\"fall-position\" data-position=\"116\""), 1U);
  const std::string delay = std::to_string((traced.positions.front() - 116) * 20);
  const std::string title =
      svg.substr(svg.find("<title>"), svg.find("</title>") - svg.find("<title>"));
  EXPECT_NE(title.find("fall.csv: fall detected"), std::string::npos) << title;
  EXPECT_NE(title.find("(sample " + std::to_string(traced.positions.front()) + "), code " +
                       std::to_string(traced.codes.front())),
            std::string::npos)
      << title;
  EXPECT_NE(title.find("delay +" + delay + " ms"), std::string::npos) << title;
  EXPECT_NE(svg.find("class=\"first-detection-label\""), std::string::npos);
}

TEST(PlotFigure, QuietRecordingSaysNoFallAndDrawsNoMarkers) {
  const TempDir dir;
  std::vector<std::vector<int>> standing(120, std::vector<int>{0, -8192, 0, 0, 0, 0});
  const auto data = dir.write("still.csv", recordingText(standing));
  const auto result = runProgram("velmora-plot", {data.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ASSERT_EQ(xmlProblem(result.out), "");
  EXPECT_EQ(titleOf(result.out), "still.csv: no alarm");
  EXPECT_EQ(countOf(result.out, "class=\"detection\""), 0U);
  EXPECT_EQ(countOf(result.out, "class=\"fall-position\""), 0U);
  EXPECT_EQ(countOf(result.out, "first-detection-label"), 0U);
}

TEST(PlotFigure, HeaderOnlyRecordingStillGivesAFigure) {
  const TempDir dir;
  const auto data = dir.write("empty.csv", recordingText({}));
  const auto result = runProgram("velmora-plot", {data.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(xmlProblem(result.out), "");
  EXPECT_NE(result.out.find("no alarm"), std::string::npos);
  EXPECT_NE(result.err.find("no samples"), std::string::npos);
}

TEST(PlotFigure, MarkupAndInvalidBytesInTheFileNameAreEscaped) {
  const TempDir dir;
  const std::string name = "a&b<c>'\"\xff\x01.csv";
  const auto data = dir.write(name, fallRecording(30));
  const auto result = runProgram("velmora-plot", {data.string()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(xmlProblem(result.out), "");
  EXPECT_NE(result.out.find("<title>a&amp;b&lt;c&gt;&apos;&quot;??.csv: false alarm"),
            std::string::npos);
}

// --set must reach the detector: the markers follow the trace run with the
// same setting, and the figure names the changed setting.
TEST(PlotFigure, SettingsChangeTheDetectionsLikeTheTrace) {
  const TempDir dir;
  const auto data = dir.write("fall.csv", fallRecording(30));
  const std::vector<std::string> setArgs = {"--set", "avgWindow=25", "--set=lowLevel=40"};
  std::vector<std::string> plotArgs = setArgs;
  plotArgs.push_back(data.string());
  const auto result = runProgram("velmora-plot", plotArgs);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ASSERT_EQ(xmlProblem(result.out), "");
  const TracedDetections withDefaults = traceDetections({data.string()});
  const TracedDetections changed = traceDetections(plotArgs);
  ASSERT_NE(changed.positions.size(), withDefaults.positions.size())
      << "pick settings that change the detections";
  EXPECT_EQ(markedDetections(result.out), changed.positions.size());
  EXPECT_NE(result.out.find("settings: avgWindow=25 lowLevel=40"), std::string::npos);
  EXPECT_NE(result.out.find("low level 0.40 g"), std::string::npos);
}

TEST(PlotCommandLine, HelpAndUsageErrors) {
  const auto help = runProgram("velmora-plot", {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: velmora-plot", 0), 0U);
  EXPECT_NE(help.out.find("--set NAME=VALUE"), std::string::npos);
  EXPECT_NE(help.out.find("Example:"), std::string::npos);
  const auto version = runProgram("velmora-plot", {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("velmora-plot (Velmora detector) ", 0), 0U) << version.out;

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"--bogus", "x.csv"},
                                             {"--set", "noSuchSetting=1", "x.csv"},
                                             {"--set", "avgWindow=0", "x.csv"},
                                             {"-o"},
                                             {"--png", "", "x.csv"},
                                             {"-o", "-", "--png", "-", "x.csv"},
                                             {"--whole", "--from", "1", "x.csv"},
                                             {"--from", "3", "--to", "2", "x.csv"},
                                             {"--from", "-1", "x.csv"},
                                             {"--to", "nan", "x.csv"},
                                             {"--early-tolerance", "x", "x.csv"},
                                             {"--settings", "/nonexistent/settings", "x.csv"},
                                             {"a.csv", "a.info", "extra"}}) {
    const auto result = runProgram("velmora-plot", args);
    EXPECT_EQ(result.exitCode, 2) << testing::PrintToString(args);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("velmora-plot: "), std::string::npos);
  }
}

TEST(PlotCommandLine, UnreadableInputsFailWithoutWritingAFigure) {
  const TempDir dir;
  const auto data = dir.write("fall.csv", fallRecording(30));
  const auto badInfo = dir.write("bad.info", "only,two\n");
  const auto out = dir.path() / "out.svg";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  for (const Case& c : std::vector<Case>{
           {{(dir.path() / "missing.csv").string()}, "cannot open"},
           {{data.string(), (dir.path() / "missing.info").string()}, "missing.info"},
           {{data.string(), badInfo.string()}, "bad.info"},
           {{data.string(), dir.write("past.info", "fall,190,1\n").string()}, "outside"}}) {
    std::vector<std::string> args = {"-o", out.string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto result = runProgram("velmora-plot", args);
    EXPECT_EQ(result.exitCode, 1) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << c.message;
  }
  const auto unwritable =
      runProgram("velmora-plot", {"-o", (dir.path() / "no-dir" / "x.svg").string(), data.string()});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos) << unwritable.err;
}

// The title and the root element state the outcome by velmora-eval's
// rules, and the tolerance moves an early alarm to a detection.
TEST(PlotFigure, TitleStatesTheOutcomeInWords) {
  const TempDir dir;
  const auto fall = dir.write("fall.csv", fallRecording(30));
  std::vector<std::vector<int>> standing(300, std::vector<int>{0, -8192, 0, 0, 0, 0});
  const auto quiet = dir.write("quiet.csv", recordingText(standing));
  const auto onTime = dir.write("on-time.info", "fall,116,1\n");
  const auto late = dir.write("late.info", "fall,185,1\n");
  struct Case {
    std::vector<std::string> args;
    std::string outcome;
    std::string words;
  };
  for (const Case& c : std::vector<Case>{
           {{fall.string(), onTime.string()}, "tp", "fall.csv: fall detected at "},
           {{fall.string(), late.string()}, "early", "fall.csv: early alarm at "},
           {{"--early-tolerance", "2", fall.string(), late.string()},
            "tp",
            "fall.csv: fall detected"},
           {{quiet.string(), onTime.string()}, "missed", "quiet.csv: fall missed: no detection"},
           {{fall.string()}, "false_alarm", "fall.csv: false alarm at "},
           {{quiet.string()}, "tn", "quiet.csv: no alarm"}}) {
    const auto result = runProgram("velmora-plot", c.args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(rootAttribute(result.out, "data-outcome"), c.outcome)
        << testing::PrintToString(c.args);
    EXPECT_EQ(titleOf(result.out).rfind(c.words, 0), 0U) << titleOf(result.out);
  }
}

// The default window spans 3 s around the annotation and the first
// detection; --whole and --from/--to override it. Windows are in positions.
TEST(PlotFigure, WindowFollowsTheAnnotationAndTheOptions) {
  const TempDir dir;
  std::vector<std::vector<int>> standing(2000, std::vector<int>{0, -8192, 0, 0, 0, 0});
  const auto data = dir.write("quiet.csv", recordingText(standing));
  const auto info = dir.write("quiet.info", "quiet,1000,1\n");
  // A fall in the middle of a longer recording, without an annotation: the
  // window follows the first detection alone.
  std::vector<std::vector<int>> falling(300, std::vector<int>{0, -8192, 0, 0, 0, 0});
  falling.insert(falling.end(), 30, std::vector<int>{0, -800, 0, 300, 0, 0});
  falling.insert(falling.end(), 300, std::vector<int>{0, 0, 8192, 0, 0, 0});
  const auto fall = dir.write("fall.csv", recordingText(falling));
  const TracedDetections traced = traceDetections({fall.string()});
  ASSERT_FALSE(traced.positions.empty());
  const std::string aroundFirst = std::to_string(traced.positions.front() - 150);
  const std::string afterFirst = std::to_string(traced.positions.front() + 151);
  struct Case {
    std::vector<std::string> args;
    std::string start;
    std::string end;
  };
  for (const Case& c :
       std::vector<Case>{{{data.string()}, "850", "1151"},  // sibling .info found
                         {{"--whole", data.string()}, "0", "2000"},
                         {{"--from", "2", "--to", "4.5", data.string()}, "100", "225"},
                         {{"--from", "39", data.string()}, "1950", "2000"},
                         {{fall.string()}, aroundFirst, afterFirst},
                         {{"--", fall.string()}, aroundFirst, afterFirst}}) {
    const auto result = runProgram("velmora-plot", c.args);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(rootAttribute(result.out, "data-window-start"), c.start)
        << testing::PrintToString(c.args);
    EXPECT_EQ(rootAttribute(result.out, "data-window-end"), c.end)
        << testing::PrintToString(c.args);
  }
}

// Only what the figure shows is in the legend; --axes adds the axis panels.
TEST(PlotFigure, LegendListsOnlyWhatIsShown) {
  const TempDir dir;
  std::vector<std::vector<int>> standing(300, std::vector<int>{0, -8192, 0, 0, 0, 0});
  const auto quiet = dir.write("quiet.csv", recordingText(standing));
  const auto fall = dir.write("fall.csv", fallRecording(30));
  const auto legendOf = [](const std::string& svg) {
    const std::size_t start = svg.find("<g class=\"legend\">");
    return svg.substr(start, svg.find("</g>", start) - start);
  };
  const auto still = runProgram("velmora-plot", {quiet.string()});
  ASSERT_EQ(still.exitCode, 0) << still.err;
  EXPECT_NE(legendOf(still.out).find("warm-up"), std::string::npos);
  for (const char* absent : {"jump window", "low run", "annotated fall", "fall code"}) {
    EXPECT_EQ(legendOf(still.out).find(absent), std::string::npos) << absent;
  }
  EXPECT_EQ(still.out.find("by axis"), std::string::npos);
  const auto late = runProgram("velmora-plot", {"--from", "2", "--axes", fall.string()});
  ASSERT_EQ(late.exitCode, 0) << late.err;
  EXPECT_EQ(legendOf(late.out).find("warm-up"), std::string::npos);
  EXPECT_NE(legendOf(late.out).find("fall code"), std::string::npos);
  EXPECT_NE(late.out.find("Acceleration by axis"), std::string::npos);
  EXPECT_NE(late.out.find("Angular rate by axis"), std::string::npos);
}

// A recording read from standard input, longer than the figure has pixels:
// reduced in one pass, saying so, with every detection still counted.
TEST(PlotFigure, LongRecordingFromStandardInputIsReducedAndSaysSo) {
  const TempDir dir;
  std::string text = fallRecording(30);
  const std::string lines = text.substr(text.find("\n0,") + 1);
  text = recordingText({});
  for (int i = 0; i < 200; ++i) {
    text += lines;
  }
  const auto data = dir.write("long.csv", text);
  const auto result = plotFromStdin(data, {"--whole", "-"});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  ASSERT_EQ(xmlProblem(result.out), "");
  EXPECT_EQ(rootAttribute(result.out, "data-reduced"), "true");
  EXPECT_NE(result.out.find("reduced: lowest and highest value"), std::string::npos);
  EXPECT_EQ(rootAttribute(result.out, "data-window-end"), "38000");
  EXPECT_EQ(markedDetections(result.out), traceDetections({data.string()}).positions.size());
  EXPECT_LT(result.out.size(), 400U * 1024U);
  EXPECT_NE(titleOf(result.out).find("(standard input): false alarm"), std::string::npos);
}

TEST(PlotCommandLine, PngAndSettingsFile) {
  const TempDir dir;
  const auto data = dir.write("fall.csv", fallRecording(30));
  const auto settings = dir.write("my.settings", "# lower level\nlowLevel=40\n");
  const auto png = dir.path() / "fall.png";
  const auto result =
      runProgram("velmora-plot", {"--settings", settings.string(), "--png", png.string(), "-o",
                                  (dir.path() / "fall.svg").string(), data.string()});
  if (result.exitCode == 2 && result.err.find("no PNG support") != std::string::npos) {
    GTEST_SKIP() << "velmora-plot was built without PNG support (librsvg2-dev, libcairo2-dev)";
  }
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(readFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n");
  EXPECT_NE(readFile(dir.path() / "fall.svg").find("settings: lowLevel=40"), std::string::npos);
}

// On the shared real recordings: every figure is well-formed and marks
// exactly the samples velmora-trace reports.
TEST(PlotFigure, SharedRecordingsMarkEveryTracedDetection) {
  const auto shared = testsupport::sharedDir();
  if (shared.empty() || !std::filesystem::is_directory(shared / "data" / "recordings")) {
    GTEST_SKIP() << "shared recordings not available";
  }
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(shared / "data" / "recordings")) {
    if (entry.path().extension() != ".csv") {
      continue;
    }
    std::vector<std::string> args = {"--whole", entry.path().string()};
    auto info = entry.path();
    info.replace_extension(".info");
    if (std::filesystem::exists(info)) {
      args.push_back(info.string());
    }
    const auto result = runProgram("velmora-plot", args);
    ASSERT_EQ(result.exitCode, 0) << entry.path() << result.err;
    ASSERT_EQ(xmlProblem(result.out), "") << entry.path();
    const TracedDetections traced = traceDetections({entry.path().string()});
    EXPECT_EQ(markedDetections(result.out), traced.positions.size()) << entry.path();
    EXPECT_EQ(countOf(result.out, "class=\"fall-position\""), args.size() == 3 ? 1U : 0U);
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

}  // namespace
