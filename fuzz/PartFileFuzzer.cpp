// Fuzz target: arbitrary bytes as a velmora-tune part file. Whatever the
// reader accepts writes back to text that reads back unchanged, and its
// figures (rates, merging, a merged sweep's table) are computed without
// overflow: the reader bounds every count and checks them against the
// run's totals.
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "PartFile.h"
#include "TuneOutput.h"

namespace {

using fuzzsupport::check;

void useFigures(const tune::OutcomeCounts& counts) {
  (void)counts.sensitivity();
  (void)counts.falseAlarmsPerHour();
  (void)counts.specificity();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  tune::Part part;
  if (!tune::parsePart(text, "fuzz", part).empty()) {
    return 0;
  }
  const std::string written = tune::formatPart(part);
  tune::Part reread;
  check(tune::parsePart(written, "written", reread).empty(), "a part the reader took writes back");
  check(tune::formatPart(reread) == written, "a written part reads back unchanged");

  for (const tune::SweepPointResult& point : part.sweep.points) {
    useFigures(point.counts);
  }
  for (const auto& run : part.search.searches) {
    for (const tune::Trial& trial : run ? run->outcome.trials : std::vector<tune::Trial>{}) {
      useFigures(trial.counts);
    }
  }
  tune::Part merged;
  if (tune::mergeParts({part}, {"fuzz"}, merged).empty() && merged.kind == tune::RunKind::Sweep) {
    (void)tune::sweepTable(merged.sweep);
  }
  return 0;
}
