// velmora-eval --html on the bundled examples: a self-contained page, the
// same bytes for the same inputs, a figure for every missed fall and false
// alarm within the limit, and bounded figures and rows. A second test opens
// the page in headless Chromium, where it is installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "TestSupport.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;

const std::string kExamples = VELMORA_SOURCE_DIR "/examples/recordings";

std::string quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return quoted + "'";
}

// Runs a shell command; returns its exit status.
int run(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t countOf(std::string_view text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(needle); pos != std::string_view::npos;
       pos = text.find(needle, pos + 1)) {
    ++count;
  }
  return count;
}

// Writes the report of the bundled examples; returns its text.
std::string writeReport(const TempDir& dir, const std::string& name, const std::string& extraArgs) {
  const std::string out = (dir.path() / name).string();
  const int status =
      run("SOURCE_DATE_EPOCH=1700000000 " + quote(std::string(VELMORA_BIN_DIR) + "/velmora-eval") +
          " " + extraArgs + " --html " + quote(out) + " " + quote(kExamples) + " >/dev/null 2>" +
          quote((dir.path() / (name + ".err")).string()));
  EXPECT_EQ(status, 0) << readFile(dir.path() / (name + ".err"));
  return readFile(out);
}

// The parts of `html` between `open` and `close`, each with both.
std::vector<std::string_view> piecesOf(std::string_view html, std::string_view open,
                                       std::string_view close) {
  std::vector<std::string_view> pieces;
  for (std::size_t pos = html.find(open); pos != std::string_view::npos;
       pos = html.find(open, pos + 1)) {
    const std::size_t end = html.find(close, pos);
    pieces.push_back(html.substr(pos, end + close.size() - pos));
  }
  return pieces;
}

// velmora-eval needs RE2: a build without it leaves it out.
#define SKIP_UNLESS_EVAL_BUILT()                                                        \
  if (!std::filesystem::exists(std::filesystem::path(VELMORA_BIN_DIR) / "velmora-eval")) \
  GTEST_SKIP() << "velmora-eval was not built (left out at configure time; it needs "    \
                  "the Debian package libre2-dev)"

TEST(HtmlReport, SelfContainedReproducibleAndBounded) {
  SKIP_UNLESS_EVAL_BUILT();
  const TempDir dir;
  const std::string page = writeReport(dir, "a.html", "-j 1");
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(writeReport(dir, "b.html", "-j 2"), page) << "the same inputs must give the same bytes";
  EXPECT_NE(page.find("2023-11-14 22:13:20 UTC"), std::string::npos) << "SOURCE_DATE_EPOCH";

  // Nothing is fetched: no scripts, styles or images from elsewhere.
  for (const char* outside : {" src=", "<link", "@import", "url(http", "href=\"http"}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
  for (const char* section : {"id=\"run\"", "id=\"summary\"", "id=\"delays\"", "id=\"recordings\"",
                              "id=\"figures\"", "id=\"delay-histogram\""}) {
    EXPECT_NE(page.find(section), std::string::npos) << section;
  }

  // fall_slow is missed and jump_down raises an alarm: two figures, each
  // linked from its row and back.
  const auto figures = piecesOf(page, "<figure ", "</figure>");
  ASSERT_EQ(figures.size(), 2U);
  for (const std::string_view figure : figures) {
    EXPECT_LT(figure.size(), 200U * 1024U);
    const std::size_t idAt = figure.find("id=\"fig-") + 8;
    const std::string id(figure.substr(idAt, figure.find('"', idAt) - idAt));
    EXPECT_NE(page.find("<a href=\"#fig-" + id + "\">"), std::string::npos) << id;
    EXPECT_NE(figure.find("<a href=\"#row-" + id + "\">"), std::string::npos) << id;
    EXPECT_NE(page.find("<tr id=\"row-" + id + "\""), std::string::npos) << id;
  }
  EXPECT_NE(figures[0].find("fall_slow.csv: fall missed"), std::string::npos);
  EXPECT_NE(figures[1].find("jump_down.csv: false alarm"), std::string::npos);
  // Inline figures must not share ids.
  EXPECT_EQ(countOf(page, "id=\"f2-panel1\""), 1U);
  EXPECT_EQ(countOf(page, "<?xml"), 0U);

  const auto rows = piecesOf(page, "<tr id=\"row-", "</tr>");
  EXPECT_EQ(rows.size(), 6U);
  for (const std::string_view row : rows) {
    EXPECT_LT(row.size(), 2048U) << row;
  }
}

// Names full of characters that escaping lengthens, in the path, the
// group and the problem of an unreadable recording, still give short rows.
TEST(HtmlReport, RowsStayUnderTwoKilobytesWhateverTheNames) {
  SKIP_UNLESS_EVAL_BUILT();
  const TempDir dir;
  const std::string name(200, '&');
  std::filesystem::copy_file(kExamples + "/jump_down.csv", dir.path() / (name + ".csv"));
  std::filesystem::copy_file(kExamples + "/fall_slow.csv", dir.path() / (name + "x.csv"));
  dir.write(name + "x.info", "not an annotation\n");
  const std::string out = (dir.path() / "r.html").string();
  run(quote(std::string(VELMORA_BIN_DIR) + "/velmora-eval") + " --group-by '(.*)' --html " +
      quote(out) + " " + quote(dir.path().string()) + " >/dev/null 2>&1");
  const std::string page = readFile(out);
  const auto rows = piecesOf(page, "<tr id=\"row-", "</tr>");
  ASSERT_EQ(rows.size(), 2U);
  for (const std::string_view row : rows) {
    EXPECT_LT(row.size(), 2048U) << row;
  }
}

TEST(HtmlReport, FiguresStopAtTheLimitAndTheRestAreListed) {
  SKIP_UNLESS_EVAL_BUILT();
  const TempDir dir;
  const std::string one = writeReport(dir, "one.html", "--html-figures 1");
  EXPECT_EQ(countOf(one, "<figure "), 1U);
  const auto notDrawn = piecesOf(one, "<ul id=\"not-drawn\">", "</ul>");
  ASSERT_EQ(notDrawn.size(), 1U);
  EXPECT_NE(notDrawn[0].find("jump_down.csv"), std::string::npos);
  const std::string none = writeReport(dir, "none.html", "--html-figures 0");
  EXPECT_EQ(countOf(none, "<figure "), 0U);
  EXPECT_EQ(countOf(none, "<li><a href=\"#row-"), 2U);
}

// The page as a browser renders it: the sections and figures are in the
// DOM after the script ran, and the screenshot is not blank.
TEST(HtmlReport, RendersInHeadlessChromium) {
  SKIP_UNLESS_EVAL_BUILT();
  std::string chromium;
  for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser"}) {
    if (std::filesystem::exists(candidate)) {
      chromium = candidate;
      break;
    }
  }
  if (chromium.empty()) {
    GTEST_SKIP() << "Chromium is not installed (Debian package chromium)";
  }
  const TempDir dir;
  writeReport(dir, "report.html", "");
  const std::string url = "file://" + (dir.path() / "report.html").string();
  const std::string flags =
      " --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --user-data-dir=" +
      quote((dir.path() / "profile").string());
  const auto dom = dir.path() / "dom.html";
  ASSERT_EQ(run("timeout 120 " + quote(chromium) + flags + " --dump-dom " + quote(url) + " >" +
                quote(dom.string()) + " 2>/dev/null"),
            0);
  const std::string rendered = readFile(dom);
  for (const char* section :
       {"<section id=\"run\">", "<section id=\"summary\">", "<section id=\"delays\">",
        "<section id=\"recordings\">", "<section id=\"figures\">"}) {
    EXPECT_NE(rendered.find(section), std::string::npos) << section;
  }
  EXPECT_EQ(countOf(rendered, "class=\"recording-figure\""), 2U);
  EXPECT_EQ(countOf(rendered, "<tr id=\"row-"), 6U);

  const auto shot = dir.path() / "shot.png";
  ASSERT_EQ(run("timeout 120 " + quote(chromium) + flags +
                " --window-size=1280,2000 --screenshot=" + quote(shot.string()) + " " + quote(url) +
                " >/dev/null 2>&1"),
            0);
  const std::string png = readFile(shot);
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // A blank 1280 x 2000 page compresses to a few kilobytes; tables, text and
  // a figure take far more.
  EXPECT_GT(png.size(), 40U * 1024U);
}

}  // namespace
