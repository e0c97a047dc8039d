// Writing output files so that a user's earlier file is never lost: each
// output goes to a temporary file beside the target, created exclusively,
// written fully and synced, and only then renamed over the target. A
// failure, or SIGINT/SIGTERM/SIGHUP, removes the temporary file and leaves
// the old target as it was.
//
// What a path names decides how it is written:
//   "-"                       standard output
//   a regular file / nothing  replaced as above (new files get 0666 & ~umask,
//                             replaced ones keep their permission bits)
//   a symbolic link           followed; the file it names is replaced, the
//                             link stays
//   a device, FIFO, terminal  written straight through, stays what it is
//   /dev/stdout, /dev/fd/N    written to that open descriptor
//   a folder                  an error
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One member of a set of outputs committed together. `text` empty
// (std::nullopt) means "remove this file if it exists", for a stale
// companion file (an annotation left from an earlier recording).
struct OutputItem {
  std::filesystem::path path;
  std::optional<std::string> text;
  // Instead of `text`, for a text too large to hold: called once to make it
  // piece by piece through `write` (each call returns an error message or
  // ""); returns the first error it met, or "".
  std::function<std::string(const std::function<std::string(std::string_view)>& write)> produce =
      {};
};

// Writes every item to its temporary file first, then puts them in place in
// the order given (so put a file that must never be missing before the one
// that refers to it). If putting one in place fails, those already put in
// place are rolled back to what was there before. Returns an error message,
// or an empty string on success. Two items naming the same file are an
// error, and nothing is written.
[[nodiscard]] std::string writeOutputs(const std::vector<OutputItem>& items);

// One output; "-" writes standard output.
[[nodiscard]] std::string writeOutput(const std::filesystem::path& path, std::string_view text);

// An output written as it is made, for outputs too large to hold in
// memory. A path that writeOutput would replace gets a temporary file
// beside it, which commit() puts in place; until then (and for good if the
// program fails, is interrupted or never commits) the old file stays as it
// was. Standard output, descriptors and special files are written through.
class StreamedOutput {
 public:
  StreamedOutput();
  StreamedOutput(StreamedOutput&&) noexcept;
  StreamedOutput& operator=(StreamedOutput&&) noexcept;
  ~StreamedOutput();  // removes the temporary file unless committed

  // Returns an error message, or "" when the output can be written.
  [[nodiscard]] std::string open(const std::filesystem::path& path);
  [[nodiscard]] std::string write(std::string_view text);
  // True once standard output is a pipe whose reader has gone: further
  // output is pointless, not wrong.
  [[nodiscard]] bool readerGone() const;
  // Syncs the file and puts it in place. Returns an error message or "".
  [[nodiscard]] std::string commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Installs the handlers that remove temporary files on SIGINT, SIGTERM and
// SIGHUP before the signal ends the program (signals ignored at start, as
// under nohup, stay ignored), and ignores SIGPIPE and SIGXFSZ so that a
// closed pipe or a file size limit is a write error rather than a death
// that leaves the temporary file behind. runTool() calls it; tests and
// other callers may call it again (it installs once).
void installOutputSafety();

// How the writer will treat `path` (exposed for the same-file checks).
struct OutputTarget {
  enum class Kind {
    StandardOutput,  // "-"
    Descriptor,      // /dev/stdout, /dev/fd/N, /proc/self/fd/N: write to fd
    Replace,         // regular file or missing path: temporary file + rename
    Through,         // device, FIFO, socket: opened and written in place
    Invalid,         // a folder, a link loop, an unreadable path
  };
  Kind kind = Kind::Invalid;
  std::filesystem::path resolved;  // the file put in place (links followed)
  int descriptor = -1;             // for Kind::Descriptor
  std::string problem;             // for Kind::Invalid
};
[[nodiscard]] OutputTarget resolveOutputTarget(const std::filesystem::path& path);
