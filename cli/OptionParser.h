// One option parser for every velmora-* program. A program declares its
// options in a table and gets the same command line as every other one:
//
//   --name VALUE and --name=VALUE    an option with a value
//   -x VALUE and -xVALUE             the same by its short alias
//   --flag, -f                       an option without one
//   repeated options                 applied in the order given
//   --                               ends the options: all later words are operands
//   -h, --help and --version         stop the parsing and say so
//   -                                never an option: an operand or a value
//                                    (the program decides whether it stands
//                                    for standard input or output there)
//   an unknown option                refused, suggesting the name meant
//   missing required options         named together in one message
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct OptionSpec {
  // Applies one occurrence. `spelled` is the name as given ("-j" for "-j4",
  // "--set" for "--set=a=1"), `value` is "" for an option without a value.
  // Returns a message for a usage error, or "".
  using Apply = std::function<std::string(const std::string& spelled, const std::string& value)>;

  OptionSpec(std::vector<std::string> names, bool takesValue, Apply apply, bool required = false,
             std::string missingValueMessage = {})
      : names(std::move(names)),
        takesValue(takesValue),
        apply(std::move(apply)),
        required(required),
        missingValueMessage(std::move(missingValueMessage)) {}

  // Every spelling: long names ("--jobs") and single-letter aliases ("-j").
  // The first one names the option in messages about it.
  std::vector<std::string> names;
  bool takesValue;
  Apply apply;
  bool required;
  // What "<name> needs a value" says instead, when the value is missing.
  std::string missingValueMessage;
};

// An option without a value that sets `flag`.
[[nodiscard]] OptionSpec flagOption(std::vector<std::string> names, bool& flag);

using OptionTable = std::vector<OptionSpec>;

// One word of the command line, as parsed: an option with its value, an
// operand, or the "--" that ended the options.
struct ParsedWord {
  enum class Kind { Option, Operand, EndOfOptions };
  Kind kind = Kind::Operand;
  const OptionSpec* option = nullptr;  // for Kind::Option
  std::string spelled;                 // the option's name as given
  std::string value;                   // the option's value, or the operand
};

struct ParsedCommandLine {
  std::vector<std::string> operands;
  std::vector<ParsedWord> words;  // in the order given
  bool help = false;              // -h or --help came first
  bool version = false;           // --version came first
};

// Parses argv[first..argc) against `table`, applying each option as it comes.
// Returns "" or the first usage error: an unknown option ("unknown option
// '--grup-by'<context>; did you mean '--group-by'?"), a missing value, a value
// given to an option that takes none, an error an option's apply returned,
// or every missing required option in one message ("missing required
// options<context>: --acc, --gyro"). `context` (" for sisfall") follows the option in the
// message about an unknown one. After -h, --help or --version nothing more is
// read or checked.
[[nodiscard]] std::string parseCommandLine(int argc, char** argv, int first,
                                           const OptionTable& table, ParsedCommandLine& parsed,
                                           std::string_view context = {});

// The message about missing required options, as parseCommandLine words it
// ("missing required options<context>: --acc, --gyro"), for a program whose
// options are required only in some uses. `names` must not be empty.
[[nodiscard]] std::string missingOptionsMessage(const std::vector<std::string>& names,
                                                std::string_view context = {});

// The value of a numeric option: a whole finite decimal number ("1", "0.5",
// "1e3"), or empty for anything else (blanks, a trailing word, inf, nan).
[[nodiscard]] std::optional<double> parseOptionNumber(std::string_view text);

// Answers -h, --help and --version once the command line is parsed: prints
// `usage` or the version text and gives the exit status 0; empty when
// neither was asked for.
[[nodiscard]] std::optional<int> answerHelpOrVersion(const ParsedCommandLine& parsed,
                                                     const char* usage);
