// One run of the detector over a live stream, as velmora-live runs it: a
// poll loop over the source and the stop signals that feeds the lines to a
// LiveSession and, around it, writes every alarm (a text or JSON line),
// starts the --exec hooks, prints the status lines, flushes the journal
// and ends with a summary.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "LiveDecoder.h"
#include "StreamSource.h"
#include "Velmora.h"

struct LiveRunOptions {
  DetectorSettings settings{};
  bool json = false;           // one JSON object per alarm instead of a text line
  std::string exec;            // a shell command run on every alarm, when not empty
  double statusSeconds = 0.0;  // a status line at that interval, when above 0
  std::string recordPath;      // the journal of accepted samples, when not empty
};

// Where a run's text goes: the program owns its standard output and error.
struct LiveRunOutput {
  // Reports one line on standard error (warnings, notices, the summary).
  std::function<void(std::string_view)> report;
  // Writes text to standard output; "" or the reason it failed (a reader
  // that went away is no failure).
  std::function<std::string(std::string_view)> write;
  // True once standard output's reader has gone.
  std::function<bool()> broken;
};

class LiveRun {
 public:
  LiveRun(LiveRunOptions options, LiveRunOutput output);
  ~LiveRun();
  LiveRun(const LiveRun&) = delete;
  LiveRun& operator=(const LiveRun&) = delete;

  // Sets up SIGINT, SIGTERM and SIGHUP to end a run (and SIGCHLD to wake it
  // for the hooks), once, before any source is opened. False with errno
  // set when that fails.
  [[nodiscard]] static bool catchSignals();

  // Opens the journal (--record) before any input is read, its header
  // naming `sourceName` (printable text, as the caller shows it). Returns
  // "" or the error.
  [[nodiscard]] std::string openJournal(const std::string& sourceName);

  // Runs until the end of the input, a stop signal, or standard output
  // closing with nothing else (hooks, journal) to serve. Returns the exit
  // status: 0, or 1 after a failure to write the alarms or the journal,
  // or when waiting failed.
  [[nodiscard]] int run(std::unique_ptr<StreamSource> source,
                        std::unique_ptr<SampleDecoder> decoder);

 private:
  class Loop;
  std::unique_ptr<Loop> loop_;
};
