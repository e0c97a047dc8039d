// The evaluation report: one self-contained HTML page (inline CSS and SVG,
// a small inline script for sorting and filtering, nothing fetched) with the
// run, the summary, the delays of the detected falls, the table of
// recordings and a zoomed figure of every missed fall, early alarm and false
// alarm, drawn by the same code as velmora-plot.
//
// The page is the same bytes for the same inputs: the run date comes from
// SOURCE_DATE_EPOCH when it is set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Evaluation.h"

namespace velmora::report {

// What an explained report adds: under each error's figure what the
// detector saw and the cheapest single fixes, and the errors by cause.
struct ReportExplanation {
  std::vector<std::string> captions;  // per result, plain text lines; empty: none
  struct CauseRow {
    std::string words;       // said of a missed fall
    std::string alarmWords;  // said of an early or false alarm
    std::string settings;    // whose nearest fix puts an error here
    int64_t missed = 0;
    int64_t early = 0;
    int64_t falseAlarms = 0;
  };
  std::vector<CauseRow> causes;  // in the order to show, rows without errors left out
  std::vector<std::string> fixHeader;
  std::vector<std::vector<std::string>> fixRows;  // the best single fixes, best first
  std::string note;                               // how the fixes were found, one paragraph
};

struct HtmlReportOptions {
  std::vector<std::string> paths;  // the searched paths, as given
  std::size_t maxFigures = 100;    // figures drawn; the rest are listed by name
  int jobs = 0;                    // threads drawing figures; 0: one per core
  // Seconds since 1970 shown as the run date; empty: SOURCE_DATE_EPOCH or now.
  std::optional<int64_t> runTime;
  // With an explanation the page also shows the errors by cause and
  // captions, and puts the figures before the long table of recordings.
  std::optional<ReportExplanation> explanation;
};

// Each figure stays below this size, each table row far below 2 KB.
inline constexpr std::size_t kMaxFigureBytes = 200 * 1024;

[[nodiscard]] std::string renderHtmlReport(const evaluation::Evaluation& evaluation,
                                           const HtmlReportOptions& options);

// The run date: SOURCE_DATE_EPOCH when it holds a whole number of seconds,
// otherwise the current time.
[[nodiscard]] int64_t reportTime();

}  // namespace velmora::report
