// Fuzz target: arbitrary bytes as a settings file for the tools (NAME=VALUE
// lines). Checks that text and file parsing agree, that whatever parses
// prints back to the same settings, that the bytes written as an escaped
// comment never leave it, and that VelmoraCheckSettings refuses exactly what
// VelmoraSet refuses.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "SettingsTable.h"
#include "Velmora.h"

namespace {

using fuzzsupport::check;

const fuzzsupport::ScratchFile& scratch() {
  static const fuzzsupport::ScratchFile file("velmora-fuzz-settings");
  return file;
}

bool sameSettings(const DetectorSettings& a, const DetectorSettings& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void checkAgainstDetector(const DetectorSettings& settings) {
  const bool valid = VelmoraCheckSettings(settings).empty();
  DetectorContext context;
  const int32_t status = VelmoraSet(&context, &settings);
  check(valid == (status == 0), "VelmoraCheckSettings refuses exactly what VelmoraSet refuses");
  if (status == 0) {
    VelmoraClose(&context);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  DetectorSettings fromText;
  VelmoraDefaultSettings(&fromText);
  const std::string textError = applySettingsText(fromText, text, scratch().path());

  scratch().write(data, size);
  DetectorSettings fromFile;
  VelmoraDefaultSettings(&fromFile);
  const std::string fileError = applySettingsFile(fromFile, scratch().path());
  check(textError == fileError, "a file and its text give the same result");
  check(sameSettings(fromText, fromFile), "a file and its text give the same settings");

  // Printed settings read back to the same record.
  DetectorSettings reread;
  std::memset(&reread, 0x5A, sizeof reread);
  check(applySettingsText(reread, formatSettings(fromText), "printed").empty(),
        "printed settings parse");
  check(sameSettings(reread, fromText), "printed settings read back unchanged");

  // Any text escaped into a comment line stays in it: the file reads back
  // the same settings, however hostile the text (line breaks, '=' lines).
  std::memset(&reread, 0x5A, sizeof reread);
  check(applySettingsText(reread, "# " + settingsComment(text) + "\n" + formatSettings(fromText),
                          "commented")
            .empty(),
        "settings after an escaped comment parse");
  check(sameSettings(reread, fromText), "an escaped comment changes no setting");

  // Each line on its own as a --set argument: an accepted one changes at
  // most the one named setting.
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest = newline == std::string_view::npos ? std::string_view{} : rest.substr(newline + 1);
    DetectorSettings single;
    VelmoraDefaultSettings(&single);
    const DetectorSettings before = single;
    if (applySetting(single, line).empty()) {
      int changed = 0;
      for (const VelmoraSetting& field : VelmoraSettingsTable()) {
        changed += single.*(field.member) != before.*(field.member) ? 1 : 0;
      }
      check(changed <= 1, "one assignment changes at most one setting");
    } else {
      check(sameSettings(single, before), "a refused assignment changes nothing");
    }
  }

  checkAgainstDetector(fromText);
  return 0;
}
