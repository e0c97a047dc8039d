#include "CommandLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>

#include "FileOutput.h"
#include "StandardOutput.h"
#include "TextUtils.h"
#include "Velmora.h"

namespace fs = std::filesystem;

namespace {

std::string& nameStorage() {
  static std::string name = "velmora";
  return name;
}

// A closed standard descriptor would be handed to the next file opened, and
// messages or output would land in that file. Keep 0..2 taken: stdout
// read-only so that writing it fails (and is reported) as it would closed.
void reserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = ::open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
      if (opened >= 0 && opened != fd) {
        ::close(opened);
      }
    }
  }
}


void appendEscaped(std::string& out, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  out += text;
}

// Key telling whether two paths name the same file: st_dev/st_ino of an
// existing regular file, the absolute path of one still to be created, or
// nothing for special files (which may be named any number of times).
std::optional<std::string> fileKey(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0) {
    if (!S_ISREG(status.st_mode)) {
      return std::nullopt;
    }
    return "inode:" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
  }
  std::error_code error;
  fs::path folder = path.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  folder = fs::weakly_canonical(fs::absolute(folder, error), error);
  return "path:" + (folder / path.filename()).string();
}

}  // namespace

const std::string& programName() { return nameStorage(); }

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto byte = static_cast<unsigned char>(text[0]);
    if (byte < 0x80) {
      if (byte == '\n') {
        out += "\\n";
      } else if (byte == '\t') {
        out += "\\t";
      } else if (byte == '\r') {
        out += "\\r";
      } else if (byte < 0x20 || byte == 0x7F) {
        appendEscaped(out, byte);
      } else {
        out += static_cast<char>(byte);
      }
      text.remove_prefix(1);
      continue;
    }
    const std::size_t length = utf8Length(text);
    if (length == 0) {
      appendEscaped(out, byte);
      text.remove_prefix(1);
    } else if (byte == 0xC2 && static_cast<unsigned char>(text[1]) < 0xA0) {
      // U+0080..U+009F: C1 control characters, which terminals obey.
      appendEscaped(out, byte);
      appendEscaped(out, static_cast<unsigned char>(text[1]));
      text.remove_prefix(2);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

void reportError(std::string_view message) {
  std::fflush(stdout);
  const std::string line = programName() + ": " + printable(message) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

int usageError(std::string_view message) {
  reportError(message);
  std::fprintf(stderr, "(run %s --help for usage)\n", programName().c_str());
  return 2;
}

int failure(std::string_view message) {
  reportError(message);
  return 1;
}

std::string versionText() {
  return programName() + " (Velmora detector) " + VelmoraGetVersion() + "\n";
}

std::string checkOutputPaths(const std::vector<NamedPath>& inputs,
                             const std::vector<NamedPath>& outputs) {
  std::vector<std::pair<std::string, const NamedPath*>> known;
  for (const NamedPath& input : inputs) {
    struct stat status {};
    if (!input.path.empty() && input.path != "-" && ::stat(input.path.c_str(), &status) == 0 &&
        S_ISREG(status.st_mode)) {
      known.emplace_back(*fileKey(input.path), &input);
    }
  }
  const NamedPath* standardOutput = nullptr;
  for (const NamedPath& output : outputs) {
    if (output.path.empty()) {
      return output.role + " needs a file name, not an empty one";
    }
    if (output.path == "-") {
      if (standardOutput != nullptr) {
        return standardOutput->role + " and " + output.role +
               " cannot both write standard output ('-')";
      }
      standardOutput = &output;
      continue;
    }
    const OutputTarget target = resolveOutputTarget(output.path);
    if (target.kind == OutputTarget::Kind::Invalid) {
      return output.role + ": cannot write " + target.problem;
    }
    if (target.kind != OutputTarget::Kind::Replace) {
      continue;
    }
    const std::optional<std::string> key = fileKey(target.resolved);
    if (!key) {
      continue;
    }
    for (const auto& [otherKey, other] : known) {
      if (otherKey == *key) {
        return output.role + " '" + output.path + "' is the same file as " + other->role + " '" +
               other->path + "'; refusing to overwrite it";
      }
    }
    known.emplace_back(*key, &output);
  }
  return {};
}

int runTool(const char* program, int argc, char** argv, int (*body)(int, char**)) {
  nameStorage() = program;
  reserveStandardDescriptors();
  installOutputSafety();
  int status = 1;
  try {
    status = body(argc, argv);
  } catch (const std::bad_alloc&) {
    reportError("out of memory");
    status = 1;
  } catch (const std::exception& error) {
    reportError(std::string("internal error: ") + error.what());
    status = 1;
  } catch (...) {
    reportError("internal error");
    status = 1;
  }
  if (const std::string problem = finishStandardOutput(status); !problem.empty()) {
    reportError("error writing standard output: " + problem);
  }
  return status;
}
