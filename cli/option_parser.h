#pragma once
// The one reading of a command's arguments that every command shares:
// "--name value" and "--name=value" alike, "-X value" and "-Xvalue" for an
// option with a short name, "-h" and "--help" everywhere, "--" ending the
// options, "-" an operand (standard input or output where a command takes
// it). What the options mean stays with each command.

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"

namespace glimmora::cli {

struct OptionSpec {
  std::string_view name;  // "--offline"
  bool takesValue = false;
  std::string_view shortName = {};  // "-U": also "-U value" and "-Uvalue"
};

struct ParsedOption {
  std::string_view name;     // as the option table names it
  std::string_view spelled;  // as given ("-U" or "--user"), for messages
  // Where the arguments hold it: a password is not copied to be freed unwiped.
  // Empty for an option without a value.
  std::string_view value;
  bool valueMissing = false;  // the last argument, without the value it needs
};

struct ParsedArguments {
  std::vector<ParsedOption> options;  // in the order given
  std::vector<std::string> operands;
  bool help = false;  // -h or --help
  // The first unknown option, value given to an option that takes none, or
  // option without its value, before any help request; empty when none.
  std::string problem;
};

// A command's table made of the parts it shares with other commands.
std::vector<OptionSpec> JoinOptionTables(std::initializer_list<std::span<const OptionSpec>> parts);

// Reads every argument in one pass. The options are collected past a help
// request and past a problem, so that each part of a command's options can
// say what is wrong with its own; the views point into `args`, which must
// outlive the result.
ParsedArguments ReadArguments(const Arguments& args, std::span<const OptionSpec> specs);
// The values would point into arguments gone at the end of the call.
ParsedArguments ReadArguments(Arguments&& args, std::span<const OptionSpec> specs) = delete;

// ReadArguments for a command whose options are all its own: false with
// *problem when there is one; a help request ends the reading at once,
// whatever follows it.
bool ParseArguments(const Arguments& args, std::span<const OptionSpec> specs,
                    ParsedArguments* parsed, std::string* problem);

}  // namespace glimmora::cli
