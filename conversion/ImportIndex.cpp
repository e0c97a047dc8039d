#include "ImportIndex.h"

#include <map>

std::string checkIndex(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const std::size_t end = text.find('\n');
  std::string_view first = text.substr(0, end);
  if (first.ends_with('\r')) {
    first.remove_suffix(1);
  }
  if (first != kIndexHeader) {
    return "its first row is not the header of an index (" + std::string(kIndexHeader) + ")";
  }
  return {};
}

std::string formatIndexRow(const IndexRow& row) {
  return row.file + '\t' + row.dataset + '\t' + row.activityCode + '\t' + row.activityKind + '\t' +
         row.subject + '\t' + row.trial + '\t' + std::to_string(row.samples) + '\t' +
         (row.fallPosition ? std::to_string(*row.fallPosition) : std::string());
}

std::string extendIndex(std::string_view existing, const std::vector<IndexRow>& rows) {
  std::map<std::string, std::size_t> pending;  // file -> index into rows
  for (std::size_t i = 0; i < rows.size(); ++i) {
    pending[rows[i].file] = i;
  }
  std::string text(kIndexHeader);
  text += '\n';
  std::size_t pos = existing.find('\n');
  while (pos != std::string_view::npos && pos + 1 < existing.size()) {
    const std::size_t start = pos + 1;
    pos = existing.find('\n', start);
    std::string_view line =
        existing.substr(start, pos == std::string_view::npos ? pos : pos - start);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (line.empty()) {
      continue;
    }
    const auto it = pending.find(std::string(line.substr(0, line.find('\t'))));
    if (it != pending.end() && it->second < rows.size()) {
      text += formatIndexRow(rows[it->second]);
      it->second = rows.size();  // written
    } else {
      text += line;
    }
    text += '\n';
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto it = pending.find(rows[i].file);
    if (it->second == i) {
      text += formatIndexRow(rows[i]) + '\n';
      it->second = rows.size();
    }
  }
  return text;
}
