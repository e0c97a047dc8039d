// Where a live run's bytes come from: standard input (a pipe, a socket, a
// terminal), a file another program appends to (followed like tail -F), or
// a serial device (opened raw, waited for, reopened after it disappears).
// Each source is non-blocking: the caller waits on descriptor() with poll()
// and calls pump() when it is readable or when serviceInMs() has passed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// Milliseconds on a clock that never jumps (CLOCK_MONOTONIC).
[[nodiscard]] int64_t monotonicMs();

// What a source tells its caller besides bytes.
struct SourceEvent {
  enum class Kind {
    Notice,    // information for standard error (waiting for a device, ...)
    GapStart,  // input stopped: the device went away
    GapEnd,    // input resumed after a gap (the text says how long it lasted)
    Restart,   // the bytes start over (reopened device, replaced or truncated file):
               // a partly received line is to be dropped
  };
  Kind kind;
  std::string text;
};

class StreamSource {
 public:
  using OnBytes = std::function<void(std::string_view)>;
  using OnEvent = std::function<void(const SourceEvent&)>;

  virtual ~StreamSource() = default;

  // The descriptor to wait on for input, or -1 while there is none (a
  // device that is absent).
  [[nodiscard]] virtual int descriptor() const = 0;
  // Milliseconds from `nowMs` until pump() should run even without input,
  // or -1 for never.
  [[nodiscard]] virtual int serviceInMs(int64_t nowMs) const = 0;
  // Reads what is available (a bounded amount per call) and hands it to
  // onBytes; reports events through onEvent. Returns false once the input
  // has ended for good (only standard input ends; a followed file or a
  // device is waited for).
  virtual bool pump(int64_t nowMs, const OnBytes& onBytes, const OnEvent& onEvent) = 0;

  // What the summary calls the source ("standard input", "'/dev/ttyACM0'").
  [[nodiscard]] virtual std::string name() const = 0;
};

[[nodiscard]] std::unique_ptr<StreamSource> openStandardInput();

// Follows `path` from its start; waits for it when absent. A file replaced
// by a new one (rotation) is read to its end, then the new file from its
// start; a truncated file is read again from its start.
[[nodiscard]] std::unique_ptr<StreamSource> followFile(const std::string& path);

// The termios speed constant for a baud rate (B9600, ...), or empty when
// the rate is not one the terminal interface offers.
[[nodiscard]] std::optional<unsigned> baudConstant(int64_t baud);

// Reads a serial device set raw at `baud` (termios: 8 data bits, no parity,
// one stop bit, no flow control, no echo, no line editing, no translation).
// A device that is absent is waited for; one that fails or disappears is
// closed and reopened with a backoff (0.1 s doubling to 2 s), each gap
// reported. A FIFO or another character device that is not a terminal is
// read as it is.
[[nodiscard]] std::unique_ptr<StreamSource> openSerialDevice(const std::string& path,
                                                             unsigned baudConstant);

// Why `path` cannot be a serial device (it exists and is a regular file or
// a folder, which --follow reads), or "" when it can (absent is fine: it is
// waited for).
[[nodiscard]] std::string serialPathProblem(const std::string& path);
