#include "OptionParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <optional>

#include "ClosestName.h"
#include "CommandLine.h"

namespace {

bool isShortName(std::string_view name) {
  return name.size() == 2 && name[0] == '-' && name[1] != '-';
}

const OptionSpec* findOption(const OptionTable& table, std::string_view name) {
  for (const OptionSpec& option : table) {
    if (std::find(option.names.begin(), option.names.end(), name) != option.names.end()) {
      return &option;
    }
  }
  return nullptr;
}

std::string unknownOption(const OptionTable& table, const std::string& word,
                          std::string_view context) {
  std::string message = "unknown option '" + word + "'" + std::string(context);
  // Suggested by the name alone: "--grup-by=x" still means --group-by.
  const std::string_view name = std::string_view(word).substr(0, word.find('='));
  std::vector<std::string_view> names = {"--help", "--version"};
  for (const OptionSpec& option : table) {
    for (const std::string& spelling : option.names) {
      if (!isShortName(spelling)) {
        names.push_back(spelling);
      }
    }
  }
  if (name.size() > 2) {
    if (const std::string_view meant = closestName(name, names); !meant.empty()) {
      message += "; did you mean '" + std::string(meant) + "'?";
    }
  }
  return message;
}

}  // namespace

OptionSpec flagOption(std::vector<std::string> names, bool& flag) {
  return {std::move(names), false, [&flag](const std::string&, const std::string&) {
            flag = true;
            return std::string();
          }};
}

std::string parseCommandLine(int argc, char** argv, int first, const OptionTable& table,
                             ParsedCommandLine& parsed, std::string_view context) {
  bool optionsEnded = false;
  std::vector<const OptionSpec*> given;
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    // "" and "-" are never options; after "--" nothing is.
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      parsed.operands.push_back(word);
      parsed.words.push_back({ParsedWord::Kind::Operand, nullptr, {}, word});
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      parsed.words.push_back({ParsedWord::Kind::EndOfOptions, nullptr, {}, {}});
      continue;
    }
    if (word == "-h" || word == "--help") {
      parsed.help = true;
      return {};
    }
    if (word == "--version") {
      parsed.version = true;
      return {};
    }
    std::string name = word;
    std::optional<std::string> value;
    const OptionSpec* option = findOption(table, word);
    if (option == nullptr) {
      if (const auto equals = word.find('='); word[1] == '-' && equals != std::string::npos) {
        name = word.substr(0, equals);  // --name=value
        value = word.substr(equals + 1);
      } else if (word[1] != '-') {
        name = word.substr(0, 2);  // -xVALUE
        value = word.substr(2);
      }
      option = findOption(table, name);
      if (option != nullptr && !option->takesValue && word[1] != '-') {
        option = nullptr;  // "-qv" is no bundle of flags here
      }
    }
    if (option == nullptr) {
      return unknownOption(table, word, context);
    }
    if (!option->takesValue && value) {
      return name + " takes no value";
    }
    if (option->takesValue && !value) {
      if (i + 1 >= argc) {
        return option->missingValueMessage.empty() ? name + " needs a value"
                                                   : option->missingValueMessage;
      }
      value = argv[++i];
    }
    parsed.words.push_back({ParsedWord::Kind::Option, option, name, value.value_or("")});
    given.push_back(option);
    if (option->apply) {
      if (std::string error = option->apply(name, value.value_or("")); !error.empty()) {
        return error;
      }
    }
  }
  std::vector<std::string> missing;
  for (const OptionSpec& option : table) {
    if (option.required && std::find(given.begin(), given.end(), &option) == given.end()) {
      missing.push_back(option.names.front());
    }
  }
  return missing.empty() ? std::string() : missingOptionsMessage(missing, context);
}

std::string missingOptionsMessage(const std::vector<std::string>& names, std::string_view context) {
  std::string message = "missing required option" + std::string(names.size() > 1 ? "s" : "") +
                        std::string(context) + ":";
  for (std::size_t i = 0; i < names.size(); ++i) {
    message += (i == 0 ? " " : ", ") + names[i];
  }
  return message;
}

std::optional<double> parseOptionNumber(std::string_view text) {
  double value = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
      !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<int> answerHelpOrVersion(const ParsedCommandLine& parsed, const char* usage) {
  if (parsed.help) {
    std::fputs(usage, stdout);
    return 0;
  }
  if (parsed.version) {
    std::fputs(versionText().c_str(), stdout);
    return 0;
  }
  return std::nullopt;
}
