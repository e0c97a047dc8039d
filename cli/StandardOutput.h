// Standard output for the command-line tools: a write error (a full disk, a
// closed descriptor) is reported, while a reader that went away (`| head`)
// ends the output quietly, as is normal on a pipe.
#pragma once

#include <string>
#include <string_view>

// Writes `text` to stdout and flushes it. Returns "" on success and when the
// reader of a pipe has gone (further output is pointless, not wrong);
// otherwise the reason it failed.
[[nodiscard]] std::string writeStandardOutput(std::string_view text);

// True once stdout is known to be a pipe or socket whose reader has gone;
// long-running output loops may stop early.
[[nodiscard]] bool standardOutputBroken();

// Flushes stdout at the end of a program. Returns "" when all went out or
// the reader left (`status` unchanged), or when a write error was already
// returned by writeStandardOutput (`status` becomes at least 1). Otherwise
// sets `status` to 1 and returns the reason, for the caller to report.
[[nodiscard]] std::string finishStandardOutput(int& status);
