// One detector run over a live stream: lines in, alarms out. Each line is
// checked (length, UTF-8, NUL bytes), decoded into samples, and every
// sample goes through the detector; a sample that starts an alarm (the
// first of a run of positive results, the unit velmora-eval --alarms
// counts) is handed to the caller at once. Positions count the samples
// accepted so far, from 0. Nothing here grows with the stream.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "EvalJudge.h"
#include "LiveDecoder.h"
#include "RecordJournal.h"
#include "Velmora.h"

struct LiveAlarm {
  int64_t position = 0;  // the alarm's first sample
  int32_t code = 0;      // its result code
};

struct LiveCounts {
  int64_t lines = 0;        // lines received
  int64_t samples = 0;      // samples processed (the next position)
  int64_t headerLines = 0;  // lines skipped as a header
  int64_t malformed = 0;    // lines skipped as malformed
  int64_t alarms = 0;
  int64_t gaps = 0;  // gaps in the input (device gone, time stamps jumping)
};

class LiveSession {
 public:
  using OnAlarm = std::function<void(const LiveAlarm&)>;
  // A malformed line: its number (1-based, counting every line) and why.
  using OnMalformed = std::function<void(int64_t lineNumber, const std::string& problem)>;
  // A gap (counted) or a notice about the input (not counted).
  using OnGap = std::function<void(const std::string&)>;
  using OnNotice = std::function<void(const std::string&)>;

  // The settings must pass VelmoraCheckSettings (the constructor throws
  // std::invalid_argument otherwise). A non-null journal receives every
  // accepted sample.
  LiveSession(const DetectorSettings& settings, std::unique_ptr<SampleDecoder> decoder,
              OnAlarm onAlarm, OnMalformed onMalformed, OnGap onGap, OnNotice onNotice,
              RecordJournal* journal = nullptr);
  LiveSession(const LiveSession&) = delete;
  LiveSession& operator=(const LiveSession&) = delete;
  ~LiveSession();

  // One line without its line end; `overlong` when it was cut (longer than
  // the splitter's limit).
  void addLine(std::string_view line, bool overlong);
  // The source started over or came back after a gap (counted by the
  // caller through gap()).
  void restart();
  // A gap the caller saw (a device gone): counted.
  void gap() { ++counts_.gaps; }
  // The end of the input.
  void finish();

  [[nodiscard]] LiveCounts counts() const;

 private:
  void process(const SampleRecord& sample);

  std::unique_ptr<DetectorContext> context_;
  std::unique_ptr<SampleDecoder> decoder_;
  OnAlarm onAlarm_;
  OnMalformed onMalformed_;
  OnGap onGap_;
  OnNotice onNotice_;
  RecordJournal* journal_;
  velmora::evaluation::DetectionTally tally_;
  LiveCounts counts_;
  SampleDecoder::Emit emit_;
  SampleDecoder::OnGap gapFromData_;
};

// Why a line cannot be a sample line whatever the format: over the
// length limit, not UTF-8, or holding a NUL byte. Empty when none applies.
[[nodiscard]] std::string lineProblem(std::string_view line, bool overlong);
