// A converted recording as every importer hands it to the output stage,
// and its row of index.tsv.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Velmora.h"

// The columns of index.tsv, in order.
struct IndexRow {
  std::string file;  // the recording's file name, <name>.csv
  std::string dataset;
  std::string activityCode;
  std::string activityKind;  // "fall" or "adl"
  std::string subject;
  std::string trial;
  int64_t samples = 0;
  std::optional<int64_t> fallPosition;
};

struct ImportedRecording {
  std::string name;                   // file stem of <name>.csv and <name>.info
  std::array<std::string, 6> header;  // free-text header lines 1 to 6
  std::vector<SampleRecord> samples;
  std::optional<int64_t> fallPosition;  // the .info position (flag 1) when set
  IndexRow row;
  std::string note;  // one line for the user: length, annotation, clamping
};

// The recording file: the six header lines, the column names, then one
// "<index>,<ax>,<ay>,<az>,<gx>,<gy>,<gz>" line per sample.
[[nodiscard]] std::string formatRecording(const ImportedRecording& recording);

// "<name>,<position>,1\n"
[[nodiscard]] std::string formatInfo(const ImportedRecording& recording);
