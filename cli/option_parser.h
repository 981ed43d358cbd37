#pragma once
// The one reading of a command's arguments that every command shares:
// "--name value" and "--name=value" alike, "-h" and "--help" everywhere,
// "--" ending the options, "-" an operand (standard input or output where a
// command takes it). What the options mean stays with each command.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"

namespace glimmora::cli {

struct OptionSpec {
  std::string_view name;  // "--offline"
  bool takesValue = false;
};

struct ParsedOption {
  std::string_view name;  // as the option table names it
  std::string value;      // empty for an option without a value
};

struct ParsedArguments {
  std::vector<ParsedOption> options;  // in the order given
  std::vector<std::string> operands;
  bool help = false;  // -h or --help came before any problem
};

// False with *problem for an unknown option, an option without the value it
// needs, or a value given to an option that takes none. The help request ends
// the reading at once, whatever follows it.
bool ParseArguments(const Arguments& args, std::span<const OptionSpec> specs,
                    ParsedArguments* parsed, std::string* problem);

}  // namespace glimmora::cli
