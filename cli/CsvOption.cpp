#include "CsvOption.h"

#include <algorithm>
#include <memory>
#include <string>

#include "CommandLine.h"
#include "ImportSignal.h"
#include "ImportText.h"

namespace {

// Three comma-separated column names, none empty, into `columns`; returns
// a message or "".
std::string takeThreeColumns(const std::string& option, const std::string& value,
                             std::array<std::string, 3>& columns) {
  std::array<std::string, 3> names;
  std::size_t start = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::size_t end = i < 2 ? value.find(',', start) : value.size();
    if (end == std::string::npos) {
      break;
    }
    names[i] = value.substr(start, end - start);
    start = end + 1;
  }
  if (std::any_of(names.begin(), names.end(), [](auto& c) { return c.empty(); }) ||
      names[2].find(',') != std::string::npos) {
    return option + " needs three column names separated by commas, found '" + value + "'";
  }
  columns = names;
  return {};
}

// Text for an index.tsv column: no tab, line break or other control
// character that would move the columns.
bool isIndexCellText(const std::string& text) {
  return std::none_of(text.begin(), text.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

OptionSpec valueRow(const char* name, OptionSpec::Apply apply, bool required = false) {
  return {{name}, true, std::move(apply), required};
}

}  // namespace

OptionTable csvConversionOptions(CsvOptions& options, CsvConversion use) {
  const bool file = use == CsvConversion::File;
  // Whether --gyro-axes was given, so that a later --axes leaves it be.
  auto haveGyroAxes = std::make_shared<bool>(false);
  OptionTable table;
  // In the order of velmora-import's usage text. Without the columns and
  // their units nothing can be read right: a wrong unit would silently
  // spoil every result.
  for (const char* name : {"--acc", "--gyro"}) {
    table.push_back(valueRow(
        name,
        [&options](const std::string& spelled, const std::string& v) {
          return takeThreeColumns(spelled, v,
                                  spelled == "--acc" ? options.accColumns : options.gyroColumns);
        },
        file));
  }
  table.push_back(valueRow("--rate", [&options](const std::string&, const std::string& v) {
    const auto rate = parseNumber(v, 1e9);
    if (!rate || !(*rate > 0.0)) {
      return "--rate needs a positive number of samples per second, found '" + v + "'";
    }
    options.rate = rate;
    return std::string();
  }));
  table.push_back(valueRow("--time", [&options](const std::string&, const std::string& v) {
    if (v.empty()) {
      return std::string("--time needs a column name");
    }
    options.timeColumn = v;
    return std::string();
  }));
  table.push_back(valueRow("--time-unit", [&options](const std::string&, const std::string& v) {
    if (v != "s" && v != "ms" && v != "us") {
      return "--time-unit takes s, ms or us, not '" + v + "'";
    }
    options.timeUnitMs = v == "s" ? 1000.0 : v == "ms" ? 1.0 : 1e-3;
    options.timeUnitText = v;
    return std::string();
  }));
  table.push_back(valueRow(
      "--acc-unit",
      [&options](const std::string&, const std::string& v) {
        const auto factor = accUnitFactor(v);
        if (!factor) {
          return "--acc-unit takes g, mps2 or counts:PER_G (a positive number), not '" + v + "'";
        }
        options.accFactor = *factor;
        options.accUnitText = v;
        return std::string();
      },
      file));
  table.push_back(valueRow(
      "--gyro-unit",
      [&options](const std::string&, const std::string& v) {
        const auto factor = gyroUnitFactor(v);
        if (!factor) {
          return "--gyro-unit takes dps, rads or counts:PER_DPS (a positive number), not '" + v +
                 "'";
        }
        options.gyroFactor = *factor;
        options.gyroUnitText = v;
        return std::string();
      },
      file));
  for (const char* name : {"--axes", "--gyro-axes"}) {
    table.push_back(
        valueRow(name, [&options, haveGyroAxes](const std::string& spelled, const std::string& v) {
          AxisMap map;
          if (std::string error = parseAxisMap(v, map); !error.empty()) {
            return spelled + ": " + error;
          }
          if (determinant(map) < 0) {
            reportError("warning: " + spelled + " " + v +
                        " mirrors the frame (determinant -1), which no way of mounting a sensor "
                        "gives; check the signs");
          }
          if (spelled == "--axes") {
            options.accAxes = map;
            if (!*haveGyroAxes) {
              options.gyroAxes = map;
            }
          } else {
            options.gyroAxes = map;
            *haveGyroAxes = true;
          }
          return std::string();
        }));
  }
  table.push_back(
      valueRow("--resample", [&options, file](const std::string&, const std::string& v) {
        if (v == "mean" || v == "linear") {
          options.resampling = v == "mean" ? Resampling::Mean : Resampling::Linear;
          return std::string();
        }
        if (!file) {
          return "--resample takes mean or linear on a stream, not '" + v + "'";
        }
        if (v != "sinc") {
          return "--resample takes mean, linear or sinc, not '" + v + "'";
        }
        if (!importsignal::sincAvailable()) {
          return std::string(
              "--resample sinc was left out of this build (it needs libsamplerate0-dev)");
        }
        options.resampling = Resampling::Sinc;
        return std::string();
      }));
  if (file) {
    table.push_back(valueRow("--fall-at", [&options](const std::string&, const std::string& v) {
      if (v == "impact") {
        options.fallAtImpact = true;
        return std::string();
      }
      const auto seconds = parseNumber(v, 1e9);
      if (!seconds || *seconds < 0.0) {
        return "--fall-at takes seconds from the first sample (0 or more) or 'impact', not '" + v +
               "'";
      }
      options.fallAtSeconds = seconds;
      return std::string();
    }));
    table.push_back(valueRow("--label", [&options](const std::string&, const std::string& v) {
      options.labelColumn = v;
      return std::string();
    }));
  }
  table.push_back(valueRow("--delimiter", [&options](const std::string&, const std::string& v) {
    if (v == "tab" || v == "\\t") {
      options.delimiter = '\t';
    } else if (v.size() == 1 && v[0] != '"' && v[0] != '\n' && v[0] != '\r') {
      options.delimiter = v[0];
    } else {
      return "--delimiter takes one character or 'tab', not '" + v + "'";
    }
    return std::string();
  }));
  if (file) {
    for (const char* name : {"--dataset", "--subject", "--activity", "--trial"}) {
      table.push_back(valueRow(name, [&options](const std::string& spelled, const std::string& v) {
        if (!isIndexCellText(v)) {
          return spelled + " must not hold tabs, line breaks or other control characters";
        }
        (spelled == "--dataset"    ? options.dataset
         : spelled == "--subject"  ? options.subject
         : spelled == "--activity" ? options.activity
                                   : options.trial) = v;
        return std::string();
      }));
    }
  }
  return table;
}
