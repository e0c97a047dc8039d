// The options that say how delimited sensor text is converted (columns,
// units, axes, rate or time stamps, resampling, delimiter), declared once
// for every program that converts it: velmora-import csv converts a whole
// file, velmora-live a stream.
#pragma once

#include "CsvImport.h"
#include "OptionParser.h"

enum class CsvConversion {
  // A whole file: every option, --resample sinc included, the annotation
  // (--fall-at, --label) and the index columns (--dataset, --subject,
  // --activity, --trial); the columns and their units are required.
  File,
  // A stream: the columns, units, axes, rate or time, --resample mean or
  // linear (sinc needs the whole file) and the delimiter; nothing required,
  // since a stream is CSV only when the program says so.
  Stream,
};

// The rows that fill `options` (which must outlive the parsing). A
// mirroring --axes or --gyro-axes is taken with a warning on standard
// error; --axes sets both sensors' mappings unless --gyro-axes is given
// too, in either order.
[[nodiscard]] OptionTable csvConversionOptions(CsvOptions& options, CsvConversion use);
