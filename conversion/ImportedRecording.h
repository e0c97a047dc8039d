// A converted recording as every importer hands it to the output stage,
// and its row of index.tsv.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
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

// Writes a text piece by piece: each call returns an error message or "".
using TextSink = std::function<std::string(std::string_view)>;
// Makes a text through a TextSink; returns the sink's first error or "".
using TextProducer = std::function<std::string(const TextSink& write)>;

// The recording file: the six header lines, the column names, then one
// "<index>,<ax>,<ay>,<az>,<gx>,<gy>,<gz>" line per sample.
[[nodiscard]] std::string formatRecording(const ImportedRecording& recording);
// The same text made in pieces of about 64 KiB, so that it is never held
// whole (`recording` must outlive the producer). The header is checked now:
// throws std::invalid_argument as formatRecording() does.
[[nodiscard]] TextProducer recordingProducer(const ImportedRecording& recording);

// "<name>,<position>,1\n"
[[nodiscard]] std::string formatInfo(const ImportedRecording& recording);
