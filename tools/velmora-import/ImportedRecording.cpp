#include "ImportedRecording.h"

#include <charconv>

std::string formatRecording(const ImportedRecording& recording) {
  std::string text;
  text.reserve(recording.samples.size() * 40 + 1024);
  for (const std::string& line : recording.header) {
    text += line;
    text += '\n';
  }
  text += "index,ax,ay,az,gx,gy,gz\n";
  char number[24];
  for (std::size_t i = 0; i < recording.samples.size(); ++i) {
    text.append(number, std::to_chars(number, number + sizeof number, i).ptr);
    for (const int16_t value : recording.samples[i]) {
      text += ',';
      text.append(number, std::to_chars(number, number + sizeof number, value).ptr);
    }
    text += '\n';
  }
  return text;
}

std::string formatInfo(const ImportedRecording& recording) {
  return recording.name + "," + std::to_string(recording.fallPosition.value_or(0)) + ",1\n";
}
