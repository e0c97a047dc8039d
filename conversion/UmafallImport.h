// Conversion of UMAFall raw files (Universidad de Malaga): the waist
// sensor's accelerometer (g) and gyroscope (deg/s) streams, interpolated
// onto the detector's 20 ms grid over the stretch both streams cover.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ImportSignal.h"
#include "ImportedRecording.h"

// UMAFall_Subject_<NN>_<ADL|Fall>_<activity>_<trial>_<date>_<time>.csv
struct UmafallName {
  std::string stem;
  std::string subject;  // "Subject_02"
  bool fall = false;
  std::string activity;  // "forwardFall"
  std::string trial;
  std::string recorded;  // "<date>_<time>"
};

[[nodiscard]] std::optional<UmafallName> parseUmafallName(std::string_view fileName);

// Collects a raw file line by line: header facts, the sensor table, and
// the accelerometer and gyroscope samples of every sensor.
class UmafallReader {
 public:
  void addLine(std::string_view line);
  // True once the first line has been seen and it is a header line ('%').
  [[nodiscard]] bool startsWithHeader() const { return startsWithHeader_; }
  // Accelerometer and gyroscope samples kept so far, of all sensors.
  [[nodiscard]] std::size_t keptSamples() const { return kept_; }

  struct Sensor {
    std::string position;  // "WAIST"
    std::string model;
    std::vector<importsignal::Timed<3>> acc;
    std::vector<importsignal::Timed<3>> gyro;
    std::size_t accLines = 0;
    std::size_t gyroLines = 0;
  };

 private:
  friend std::variant<ImportedRecording, std::string> convertUmafall(UmafallReader&& reader,
                                                                     const UmafallName& name,
                                                                     std::string_view source);

  std::size_t kept_ = 0;
  bool sawFirstLine_ = false;
  bool startsWithHeader_ = false;
  std::map<std::string, std::string> facts_;  // "% key: value" lines, the first of each key
  std::map<long, Sensor> sensors_;            // by sensor id
  std::vector<long> declaredOrder_;           // ids in sensor-table order
};

// The recording, or why the file gives none (no waist sensor, too few
// samples, streams that do not overlap by 20 ms).
[[nodiscard]] std::variant<ImportedRecording, std::string> convertUmafall(UmafallReader&& reader,
                                                                          const UmafallName& name,
                                                                          std::string_view source);
