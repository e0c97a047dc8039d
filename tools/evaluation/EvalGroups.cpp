#include "EvalGroups.h"

#include <filesystem>

#ifdef VELMORA_HAVE_RE2
#include <re2/re2.h>
#endif

namespace velmora::evaluation {

#ifdef VELMORA_HAVE_RE2

// RE2 matches in time linear in the length of the name, whatever the
// pattern, so no pattern can stall a run; in exchange it refuses the few
// constructs that would need backtracking (back-references, look-around).
struct GroupPattern::Compiled {
  explicit Compiled(const std::string& pattern, const RE2::Options& options)
      : regex(pattern, options) {}
  RE2 regex;
};

namespace {
RE2::Options patternOptions() {
  RE2::Options options;
  options.set_log_errors(false);  // errors are reported by the caller, once
  return options;
}
}  // namespace

std::unique_ptr<GroupPattern> GroupPattern::compile(const std::string& pattern,
                                                    std::string& error) {
  auto compiled = std::make_unique<Compiled>(pattern, patternOptions());
  if (!compiled->regex.ok()) {
    error = "--group-by: '" + pattern + "' is not a regular expression RE2 accepts (" +
            compiled->regex.error() + ")";
    return nullptr;
  }
  if (compiled->regex.NumberOfCapturingGroups() < 1) {
    error = "--group-by: '" + pattern + "' has no capture group to name the groups";
    return nullptr;
  }
  return std::unique_ptr<GroupPattern>(new GroupPattern(pattern, std::move(compiled)));
}

std::string GroupPattern::groupOf(const std::string& path, std::string& /*error*/) const {
  const std::string name = std::filesystem::path(path).filename().string();
  re2::StringPiece group;
  // A group that does not take part in the match has no data.
  if (RE2::PartialMatch(name, compiled_->regex, &group) && group.data() != nullptr) {
    return std::string(group.data(), group.size());
  }
  return {};
}

#else

struct GroupPattern::Compiled {};

std::unique_ptr<GroupPattern> GroupPattern::compile(const std::string& pattern,
                                                    std::string& error) {
  error = "--group-by: '" + pattern +
          "' cannot be used: this build has no RE2 (install the Debian package libre2-dev and "
          "configure again)";
  return nullptr;
}

std::string GroupPattern::groupOf(const std::string& /*path*/, std::string& /*error*/) const {
  return {};
}

#endif

GroupPattern::GroupPattern(std::string pattern, std::unique_ptr<Compiled> compiled)
    : pattern_(std::move(pattern)), compiled_(std::move(compiled)) {}

GroupPattern::~GroupPattern() = default;

std::string assignGroups(const GroupPattern& pattern, std::vector<RecordingResult>& results) {
  for (RecordingResult& result : results) {
    std::string error;
    result.group = pattern.groupOf(result.path, error);
    if (!error.empty()) {
      return error;
    }
  }
  return {};
}

}  // namespace velmora::evaluation
