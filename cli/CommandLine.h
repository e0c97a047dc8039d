// Habits every velmora-* program shares: one way to report errors, the
// --version text, checks on output paths before any work, bounded reading
// of small input files, and a main() wrapper that turns any exception into
// a message and ends standard output properly.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Runs `body` as the program `program`: sets the name used in messages,
// installs the output safety net (temporary files removed on SIGINT/
// SIGTERM/SIGHUP, SIGPIPE ignored, closed standard descriptors kept from
// being reused by files), turns an escaping exception into a message and
// status 1 (std::bad_alloc: "out of memory"), and ends with
// finishStandardOutput() (reporting a write error it finds).
int runTool(const char* program, int argc, char** argv, int (*body)(int argc, char** argv));

// The program name given to runTool ("velmora" before it).
[[nodiscard]] const std::string& programName();

// `text` with control bytes (C0, DEL, C1) and bytes that are not valid
// UTF-8 written as \n, \t, \r or \xHH, so a message never carries raw
// terminal commands or broken characters.
[[nodiscard]] std::string printable(std::string_view text);

// "<program>: <message>" on stderr, escaped with printable().
void reportError(std::string_view message);
// reportError(), then "(run <program> --help for usage)"; returns 2.
int usageError(std::string_view message);
// reportError(); returns 1.
int failure(std::string_view message);

// "<program> <detector version>\n", the answer to --version.
[[nodiscard]] std::string versionText();

// A path a run reads or writes, with the words that name it in messages
// ("--csv", "the settings file", "recording").
struct NamedPath {
  std::string role;
  std::string path;
};

// Checks the outputs of a run before any work. Returns a message (for a
// usage error, status 2) when an output path is empty, names a folder or a
// link loop, is the same file as one of the inputs (st_dev/st_ino; files
// found in searched folders belong among the inputs) or as another output,
// or when two outputs are "-" (standard output). Devices, FIFOs and
// terminals are never the "same file": /dev/null may take several outputs.
// Returns "" when all is well.
[[nodiscard]] std::string checkOutputPaths(const std::vector<NamedPath>& inputs,
                                           const std::vector<NamedPath>& outputs);
