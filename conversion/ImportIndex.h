// index.tsv: one row per recording in an output folder, with the columns
// of the shared data's index. Importers add their rows to the index that
// is already there.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ImportedRecording.h"

inline constexpr std::string_view kIndexHeader =
    "file\tdataset\tactivity_code\tactivity_kind\tsubject\ttrial\tsamples\tfall_position";

// Empty when `text` can be extended: empty, or starting with the header row.
[[nodiscard]] std::string checkIndex(std::string_view text);

// The index with `rows` added: a row for a file already listed replaces
// that row in place, other rows are appended in order.
[[nodiscard]] std::string extendIndex(std::string_view existing, const std::vector<IndexRow>& rows);

[[nodiscard]] std::string formatIndexRow(const IndexRow& row);
