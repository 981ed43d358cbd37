#include "cli/option_parser.h"

#include <optional>

namespace glimmora::cli {

namespace {

struct Match {
  const OptionSpec* spec = nullptr;
  std::string_view spelled;
  std::optional<std::string_view> attachedValue;
};

// The option `arg` names, with a value it carries ("--name=value", "-Xvalue").
Match FindOption(std::string_view arg, std::span<const OptionSpec> specs) {
  Match match{nullptr, arg, std::nullopt};
  if (arg.rfind("--", 0) == 0) {
    if (const std::size_t equals = arg.find('='); equals != std::string_view::npos) {
      match.spelled = arg.substr(0, equals);
      match.attachedValue = arg.substr(equals + 1);
    }
  }
  for (const OptionSpec& spec : specs) {
    if (spec.name == match.spelled || (!spec.shortName.empty() && spec.shortName == arg)) {
      match.spec = &spec;
      if (spec.shortName == arg) match.spelled = arg;
    }
  }
  if (match.spec != nullptr) return match;
  // A short name with its value attached: "-Ualice".
  for (const OptionSpec& spec : specs) {
    if (spec.takesValue && !spec.shortName.empty() && arg.size() > spec.shortName.size() &&
        arg.substr(0, spec.shortName.size()) == spec.shortName)
      return {&spec, spec.shortName, arg.substr(spec.shortName.size())};
  }
  return match;
}

}  // namespace

std::vector<OptionSpec> JoinOptionTables(std::initializer_list<std::span<const OptionSpec>> parts) {
  std::vector<OptionSpec> table;
  for (std::span<const OptionSpec> part : parts)
    table.insert(table.end(), part.begin(), part.end());
  return table;
}

ParsedArguments ReadArguments(const Arguments& args, std::span<const OptionSpec> specs) {
  ParsedArguments parsed;
  // What is wrong after a help request does not count: help is asked for.
  const auto problem = [&parsed](std::string text) {
    if (!parsed.help && parsed.problem.empty()) parsed.problem = std::move(text);
  };
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed.help = true;
      continue;
    }
    const Match match = FindOption(arg, specs);
    if (match.spec == nullptr) {
      // The whole argument is not repeated: it may hold a password given by mistake.
      problem("unknown option '" + std::string(match.spelled) + "'");
      continue;
    }
    ParsedOption option{match.spec->name, match.spelled, {}, false};
    if (match.spec->takesValue) {
      if (match.attachedValue) {
        option.value = *match.attachedValue;
      } else if (i + 1 < args.size()) {
        option.value = args[++i];
      } else {
        option.valueMissing = true;
        problem(std::string(match.spec->name) + " needs a value");
      }
    } else if (match.attachedValue) {
      problem(std::string(match.spec->name) + " takes no value");
      continue;
    }
    parsed.options.push_back(option);
  }
  return parsed;
}

bool ParseArguments(const Arguments& args, std::span<const OptionSpec> specs,
                    ParsedArguments* parsed, std::string* problem) {
  *parsed = ReadArguments(args, specs);
  if (parsed->problem.empty()) return true;
  *problem = parsed->problem;
  return false;
}

}  // namespace glimmora::cli
