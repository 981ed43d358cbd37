#include "cli/option_parser.h"

namespace glimmora::cli {

bool ParseArguments(const Arguments& args, std::span<const OptionSpec> specs,
                    ParsedArguments* parsed, std::string* problem) {
  *parsed = {};
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      parsed->help = true;
      return true;
    }
    std::string_view name = arg;
    std::optional<std::string> inlineValue;
    if (arg.rfind("--", 0) == 0) {
      if (const std::size_t equals = arg.find('='); equals != std::string::npos) {
        name = std::string_view(arg).substr(0, equals);
        inlineValue = arg.substr(equals + 1);
      }
    }
    const OptionSpec* spec = nullptr;
    for (const OptionSpec& candidate : specs) {
      if (candidate.name == name) spec = &candidate;
    }
    if (spec == nullptr) {
      // The whole argument is not repeated: it may hold a password given by mistake.
      *problem = "unknown option '" + std::string(name) + "'";
      return false;
    }
    ParsedOption option{spec->name, {}};
    if (spec->takesValue) {
      if (inlineValue) {
        option.value = *inlineValue;
      } else if (i + 1 < args.size()) {
        option.value = args[++i];
      } else {
        *problem = std::string(spec->name) + " needs a value";
        return false;
      }
    } else if (inlineValue) {
      *problem = std::string(spec->name) + " takes no value";
      return false;
    }
    parsed->options.push_back(std::move(option));
  }
  return true;
}

}  // namespace glimmora::cli
