// Text handling shared by the importers: a bounded line reader, field
// splitting, strict number parsing, and the checks that keep names and
// header lines readable by Drovik.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reads a file descriptor line by line without ever holding more than one
// line: memory stays at one buffer of kMaxLineBytes however long the input
// (an endless stream without line ends stops after that many bytes).
class LineReader {
 public:
  static constexpr std::size_t kMaxLineBytes = 64 * 1024;

  enum class Result {
    Line,       // `line` holds the next line, without LF or CR LF
    End,        // no more input
    TooLong,    // a line longer than kMaxLineBytes
    ReadError,  // read() failed; errorNumber() says why
  };

  explicit LineReader(int fd);
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;
  ~LineReader() = default;

  // The view stays valid until the next call.
  Result next(std::string_view& line);
  // 1-based number of the line last returned (or being read when it failed).
  [[nodiscard]] int64_t lineNumber() const { return lineNumber_; }
  [[nodiscard]] int errorNumber() const { return errorNumber_; }

 private:
  int fd_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool endOfInput_ = false;
  int64_t lineNumber_ = 0;
  int errorNumber_ = 0;
};

// Text for a LineReader failure: "line N: ...".
[[nodiscard]] std::string describeReadFailure(LineReader::Result result, const LineReader& reader);

// Splits one line at `delimiter`. A field that starts with a double quote
// runs to the closing quote ("" inside stands for one quote) and may hold
// delimiters. Blanks around fields are removed. Returns false for an
// unclosed quote.
[[nodiscard]] bool splitFields(std::string_view line, char delimiter,
                               std::vector<std::string>& fields);

// A decimal number filling the whole field (blanks around it allowed):
// finite, within +-limit. Empty when the field is anything else.
[[nodiscard]] std::optional<double> parseNumber(std::string_view field, double limit = 1e15);

// User data quoted in a message: cut after `maxBytes` (marked "..."). The
// program escapes control bytes when it prints the message.
[[nodiscard]] std::string excerpt(std::string_view text, std::size_t maxBytes = 60);
// The excerpt in single quotes.
[[nodiscard]] std::string quotedExcerpt(std::string_view text, std::size_t maxBytes = 60);

// A blank inside a line: space or tab.
[[nodiscard]] bool isBlank(char c);
// `text` without the blanks around it.
[[nodiscard]] std::string_view trimmed(std::string_view text);
// One number by a printf pattern ("%.2f").
[[nodiscard]] std::string formatValue(const char* pattern, double value);

// A header line fit for a recording: control bytes escaped and cut so the
// whole line stays under 1,000 bytes (Drovik reads header lines in pieces
// of 1023 bytes, so a longer one would shift every sample).
constexpr std::size_t kMaxHeaderLineBytes = 999;
[[nodiscard]] std::string headerLine(std::string_view text);

// Empty when `name` can be the first field of an .info line and the stem
// of index.tsv rows; else why not. A comma or a leading quote would move
// the position field, a line break or a tab would split the line or row.
[[nodiscard]] std::string checkRecordingName(std::string_view name);
