// Which recordings a settings file was tuned on. A search writes the
// fingerprint of each recording it tuned on into the settings file's comment
// block; an evaluation with those settings then knows which of its recordings
// chose them (its figures on those overstate what new people will see).
//
// A fingerprint is the SHA-256 of the recording file's bytes, as `sha256sum`
// prints it: the recording's content, whatever its name or folder. It is a
// hash, never a figure of the recording. The annotation (.info) is not part
// of it: the same samples with another annotation are still the same data.
//
// In the settings file each is a comment line, so every reader of settings
// files passes over them:
//   # tuned-on sha256:<64 lowercase hexadecimal digits>
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Velmora.h"

namespace velmora::evaluation {

// The start of a fingerprint line in a settings file.
inline constexpr std::string_view kTunedOnPrefix = "# tuned-on ";

// What the settings files of a run say about where they came from.
struct SettingsProvenance {
  std::vector<std::string> files;  // each settings file read, as named ("fa1.settings")
  // "sha256:<hex>" of the recordings any of them was tuned on, sorted and
  // unique; empty when none of them names any.
  std::vector<std::string> tunedOn;

  [[nodiscard]] bool knowsTuning() const { return !tunedOn.empty(); }
  [[nodiscard]] bool tunedOnFingerprint(const std::string& fingerprint) const;
};

// "sha256:<hex>" of the file's bytes. The file must be a regular file (a
// FIFO or device would never end). Returns "" and sets `error` (naming the
// file) when it cannot be read.
[[nodiscard]] std::string fingerprintFile(const std::string& path, std::string& error);

// The comment block a search appends to its settings file: a line saying
// what the lines are, then one fingerprint line per distinct fingerprint,
// sorted. Empty for no fingerprints.
[[nodiscard]] std::string formatTunedOn(std::vector<std::string> fingerprints);

// Reads the fingerprint lines of settings-file text into `provenance`
// (merged, sorted, unique). A line starting "# tuned-on " that does not hold
// exactly "sha256:" and 64 hexadecimal digits is an error naming
// `origin`:line, so a damaged record is never taken for no record. Returns
// the error, or "".
[[nodiscard]] std::string readTunedOn(std::string_view text, std::string_view origin,
                                      SettingsProvenance& provenance);

// Reads a settings file whole (a regular file of at most
// kMaxSettingsFileBytes), applies its settings and adds its fingerprints and
// `name` (how messages and reports call it) to `provenance`. Returns an
// error message naming the file, or "".
[[nodiscard]] std::string readSettingsFile(const std::string& path, const std::string& name,
                                           DetectorSettings& settings,
                                           SettingsProvenance& provenance);

// The sentence an evaluation prints beside its figures when some of its
// recordings chose its settings:
// "in-sample: N of M recordings were used to tune these settings; their
// figures overstate what new people will see".
[[nodiscard]] std::string inSampleNote(int64_t inSample, int64_t recordings);

}  // namespace velmora::evaluation
