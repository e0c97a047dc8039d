#include "UmafallImport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "ImportText.h"
#include "RecordingWriter.h"

namespace {

using importsignal::Timed;

bool isDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Six hex pairs separated by ':'.
bool isMacAddress(std::string_view text) {
  if (text.size() != 17) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (i % 3 == 2) {
      if (c != ':') {
        return false;
      }
    } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

// Samples per second over a merged stream, for the header.
double rateOf(const std::vector<Timed<3>>& stream) {
  if (stream.size() < 2 || !(stream.back().time > stream.front().time)) {
    return 0.0;
  }
  return static_cast<double>(stream.size() - 1) * 1000.0 /
         (stream.back().time - stream.front().time);
}

double largestGap(const std::vector<Timed<3>>& stream) {
  double gap = 0.0;
  for (std::size_t i = 1; i < stream.size(); ++i) {
    gap = std::max(gap, stream[i].time - stream[i - 1].time);
  }
  return gap;
}

}  // namespace

std::optional<UmafallName> parseUmafallName(std::string_view fileName) {
  constexpr std::string_view kPrefix = "UMAFall_Subject_";
  constexpr std::string_view kExtension = ".csv";
  if (!fileName.starts_with(kPrefix) || !fileName.ends_with(kExtension)) {
    return std::nullopt;
  }
  UmafallName name;
  name.stem = std::string(fileName.substr(0, fileName.size() - kExtension.size()));
  std::vector<std::string_view> parts;
  std::string_view rest = std::string_view(name.stem).substr(kPrefix.size());
  for (std::size_t cut = rest.find('_'); cut != std::string_view::npos; cut = rest.find('_')) {
    parts.push_back(rest.substr(0, cut));
    rest.remove_prefix(cut + 1);
  }
  parts.push_back(rest);
  // NN, ADL|Fall, activity (may hold '_'), trial, date, time.
  if (parts.size() < 6 || !isDigits(parts[0]) || (parts[1] != "ADL" && parts[1] != "Fall")) {
    return std::nullopt;
  }
  const std::size_t n = parts.size();
  if (!isDigits(parts[n - 3]) || parts[n - 2].size() != 10 || parts[n - 1].size() != 8) {
    return std::nullopt;
  }
  name.subject = "Subject_" + std::string(parts[0]);
  name.fall = parts[1] == "Fall";
  for (std::size_t i = 2; i < n - 3; ++i) {
    if (i > 2) {
      name.activity += '_';
    }
    name.activity += parts[i];
  }
  if (name.activity.empty()) {
    return std::nullopt;
  }
  name.trial = std::string(parts[n - 3]);
  name.recorded = std::string(parts[n - 2]) + "_" + std::string(parts[n - 1]);
  return name;
}

void UmafallReader::addLine(std::string_view line) {
  if (!sawFirstLine_) {
    sawFirstLine_ = true;
    startsWithHeader_ = !line.empty() && line.front() == '%';
  }
  if (!line.empty() && line.front() == '%') {
    const std::string_view body = trimmed(line.substr(1));
    std::vector<std::string> fields;
    if (body.size() >= 17 && isMacAddress(body.substr(0, 17)) && splitFields(body, ';', fields) &&
        fields.size() >= 4) {
      const auto id = parseNumber(fields[1], 1e9);
      if (id && *id == std::floor(*id)) {
        const long key = static_cast<long>(*id);
        if (!sensors_.contains(key)) {
          declaredOrder_.push_back(key);
        }
        Sensor& sensor = sensors_[key];
        sensor.position = fields[2];
        sensor.model = fields[3];
      }
      return;
    }
    const std::size_t colon = body.find(':');
    if (colon != std::string_view::npos) {
      const std::string key = upper(trimmed(body.substr(0, colon)));
      facts_.try_emplace(key, std::string(trimmed(body.substr(colon + 1))));
    }
    return;
  }
  std::vector<std::string> fields;
  if (!splitFields(line, ';', fields) || fields.size() < 7) {
    return;
  }
  std::array<double, 7> number{};
  for (std::size_t i = 0; i < number.size(); ++i) {
    const auto value = parseNumber(fields[i], 1e12);
    if (!value) {
      return;
    }
    number[i] = *value;
  }
  const double type = number[5];
  if ((type != 0.0 && type != 1.0) || number[6] != std::floor(number[6])) {
    return;
  }
  Sensor& sensor = sensors_[static_cast<long>(number[6])];
  const Timed<3> sample{number[0], {number[2], number[3], number[4]}};
  ++kept_;
  if (type == 0.0) {
    sensor.acc.push_back(sample);
    ++sensor.accLines;
  } else {
    sensor.gyro.push_back(sample);
    ++sensor.gyroLines;
  }
}

std::variant<ImportedRecording, std::string> convertUmafall(UmafallReader&& reader,
                                                            const UmafallName& name,
                                                            std::string_view source) {
  const auto waist = std::find_if(
      reader.declaredOrder_.begin(), reader.declaredOrder_.end(),
      [&reader](long id) { return upper(trimmed(reader.sensors_[id].position)) == "WAIST"; });
  if (waist == reader.declaredOrder_.end()) {
    return std::string("no WAIST sensor in the sensor table");
  }
  const long waistId = *waist;
  UmafallReader::Sensor& sensor = reader.sensors_[waistId];
  importsignal::sortAndMerge(sensor.acc);
  importsignal::sortAndMerge(sensor.gyro);
  const std::string sensorText = "the waist sensor (id " + std::to_string(waistId) + ")";
  if (sensor.acc.size() < 2 || sensor.gyro.size() < 2) {
    return sensorText + " has " + std::to_string(sensor.acc.size()) + " accelerometer and " +
           std::to_string(sensor.gyro.size()) +
           " gyroscope samples (distinct time stamps); each needs at least 2";
  }
  const double first = std::max(sensor.acc.front().time, sensor.gyro.front().time);
  const double last = std::min(sensor.acc.back().time, sensor.gyro.back().time);
  if (!(last - first >= importsignal::kOutputPeriodMs)) {
    return sensorText + ": its accelerometer and gyroscope overlap by " +
           formatValue("%.0f", std::max(0.0, last - first)) + " ms, less than one 20 ms step";
  }
  if ((last - first) / importsignal::kOutputPeriodMs >=
      static_cast<double>(importsignal::kMaxInputSamples)) {
    return sensorText + ": its streams span " + formatValue("%.0f", (last - first) / 1000.0) +
           " s, more than this importer takes in one file";
  }
  const std::size_t count = importsignal::gridLength(first, last);
  const auto acc = importsignal::interpolateOnGrid(sensor.acc, first, count);
  const auto gyro = importsignal::interpolateOnGrid(sensor.gyro, first, count);
  // Into the detector's frame: acc (x, y, z) = (Y, -X, Z); the gyroscope is
  // mounted turned 180 degrees about Y, so gyro (x, y, z) = (Y, X, -Z).
  std::vector<importsignal::Values> values(count);
  for (std::size_t k = 0; k < count; ++k) {
    values[k] = {acc[k][1], -acc[k][0], acc[k][2], gyro[k][1], gyro[k][0], -gyro[k][2]};
  }
  importsignal::CountedSamples counted =
      importsignal::toCounts(values, importsignal::kVelmoraCountsPerG, importsignal::kVelmoraCountsPerDps);

  const auto fact = [&reader](const char* key) {
    const auto it = reader.facts_.find(key);
    return it == reader.facts_.end() ? std::string("?") : it->second;
  };
  ImportedRecording recording;
  recording.name = name.stem;
  recording.header[0] =
      "UMAFall recording imported by velmora-import | source: " + std::string(source) +
      " (UMAFall dataset, Casilari, Santoyo-Ramon, Cano-Garcia, Universidad de "
      "Malaga)";
  recording.header[1] = "activity: " + name.activity + (name.fall ? " (fall)" : " (adl)") +
                        " | header: " + fact("TYPE OF MOVEMENT") + " " +
                        fact("DESCRIPTION OF THE MOVEMENT");
  recording.header[2] = "subject: " + name.subject + " (age " + fact("AGE") + ", height(cm) " +
                        fact("HEIGHT(CM)") + ", weight(kg) " + fact("WEIGHT(KG)") + ", gender " +
                        fact("GENDER") + ") | trial: " + name.trial + " | recorded " +
                        name.recorded;
  recording.header[3] =
      "original: WAIST " + sensor.model + ", sensor id " + std::to_string(waistId) +
      "; accelerometer " + std::to_string(sensor.accLines) + " samples " +
      formatValue("%.1f", rateOf(sensor.acc)) + " Hz in g; gyroscope " +
      std::to_string(sensor.gyroLines) + " samples " + formatValue("%.1f", rateOf(sensor.gyro)) +
      " Hz in deg/s; largest gap " +
      formatValue("%.0f", std::max(largestGap(sensor.acc), largestGap(sensor.gyro))) + " ms";
  recording.header[4] =
      "conversion: linear interpolation to a 20 ms grid from t=" + formatValue("%.0f", first) +
      " ms to " +
      formatValue("%.0f", first + importsignal::kOutputPeriodMs * static_cast<double>(count - 1)) +
      " ms (overlap of both streams); axes acc (x,y,z) = (Y,-X,Z), gyro (x,y,z) = (Y,X,-Z); acc "
      "x8192, gyro x65.536, rounded half up, clamped to int16 (acc " +
      std::to_string(counted.clampedAccSamples) + ", gyro " +
      std::to_string(counted.clampedGyroSamples) + " samples)";
  recording.header[5] = recordingFormatText(static_cast<int64_t>(count)) + "; upright: y about -1 g";
  if (name.fall) {
    recording.fallPosition = counted.impactSample;
    recording.header[5] +=
        "; impact estimate (largest |acc| before rounding, not annotated) at "
        "sample " +
        std::to_string(counted.impactSample) + ", " + formatValue("%.2f", counted.impactG) + " g";
  }
  for (std::string& line : recording.header) {
    line = headerLine(line);
  }
  recording.row = {name.stem + ".csv",
                   "UMAFall",
                   name.activity,
                   name.fall ? "fall" : "adl",
                   name.subject,
                   name.trial,
                   static_cast<int64_t>(count),
                   recording.fallPosition};
  recording.note = std::to_string(count) + " samples";
  if (name.fall) {
    recording.note += ", impact estimate at sample " + std::to_string(counted.impactSample);
  }
  if (counted.clampedAccSamples + counted.clampedGyroSamples > 0) {
    recording.note += ", clamped samples: acc " + std::to_string(counted.clampedAccSamples) +
                      ", gyro " + std::to_string(counted.clampedGyroSamples);
  }
  recording.samples = std::move(counted.samples);
  return recording;
}
