// Fuzz target: arbitrary text through velmora-import's readers and
// conversions. The first byte picks the reader and its options: bits 0-1
// the timing (75 Hz, 200 Hz, a time column in s or in ms), bit 2 and 3 the
// units, bits 4-5 the resampling (automatic, mean, linear, sinc), bit 6 an
// impact annotation, bit 7 a label column, both bits 6 and 7 the UMAFall
// reader instead. The rest is the file, split into lines as the importer's
// line reader splits them. Whatever the input, a conversion either fails
// with a message or gives a recording whose header lines fit Drovik's line
// buffer and whose annotation lies inside it.
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "CsvImport.h"
#include "FuzzSupport.h"
#include "ImportText.h"
#include "ImportedRecording.h"
#include "UmafallImport.h"

namespace {

using fuzzsupport::check;

void checkRecording(const std::variant<ImportedRecording, std::string>& result) {
  const auto* recording = std::get_if<ImportedRecording>(&result);
  if (recording == nullptr) {
    check(!std::get<std::string>(result).empty(), "a failure says why");
    return;
  }
  check(!recording->samples.empty(), "a recording has samples");
  check(recording->samples.size() <= importsignal::kMaxInputSamples, "output stays bounded");
  for (const std::string& line : recording->header) {
    check(line.size() < 1000 && line.find('\n') == std::string::npos,
          "header lines fit one read of Drovik's line buffer");
  }
  if (recording->fallPosition) {
    check(*recording->fallPosition >= 0 &&
              *recording->fallPosition < static_cast<int64_t>(recording->samples.size()),
          "the annotation lies inside the recording");
  }
  const std::string text = formatRecording(*recording);  // throws on a bad header
  check(!text.empty(), "the recording formats");
}

// Lines as LineReader gives them: split at LF, a CR before it dropped.
template <typename Consume>
bool forEachLine(std::string_view text, Consume&& consume) {
  int64_t number = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (!consume(line, ++number)) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const uint8_t mode = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((mode & 0xC0) == 0xC0) {
    UmafallReader reader;
    forEachLine(text, [&reader](std::string_view line, int64_t) {
      reader.addLine(line);
      return true;
    });
    const auto name = parseUmafallName("UMAFall_Subject_01_Fall_walk_1_2016-06-13_20-43-52.csv");
    auto result = convertUmafall(std::move(reader), *name, "fuzz.csv");
    if (auto* recording = std::get_if<ImportedRecording>(&result)) {
      checkRecording(std::move(*recording));
    }
    return 0;
  }
  CsvOptions options;
  options.accColumns = {"ax", "ay", "az"};
  options.gyroColumns = {"gx", "gy", "gz"};
  options.accFactor = *accUnitFactor((mode & 4) != 0 ? "mps2" : "g");
  options.gyroFactor = *gyroUnitFactor((mode & 8) != 0 ? "rads" : "counts:16.384");
  options.resampling = static_cast<Resampling>((mode >> 4) & 3);
  if ((mode & 2) != 0) {
    options.timeColumn = "t";
    options.timeUnitMs = (mode & 1) != 0 ? 1.0 : 1000.0;
  } else {
    options.rate = (mode & 1) != 0 ? 200.0 : 75.0;
  }
  if ((mode & 64) != 0) {
    options.fallAtImpact = true;
  } else if ((mode & 128) != 0) {
    options.labelColumn = "label";
  }
  CsvReader reader(options);
  const bool read = forEachLine(text, [&reader](std::string_view line, int64_t number) {
    return reader.addLine(line, number).empty();
  });
  if (read) {
    checkRecording(reader.finish("fuzz", "fuzz.csv"));
  }
  return 0;
}
