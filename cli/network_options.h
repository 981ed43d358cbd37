#pragma once
// The options of the commands that open workstations' registries over the
// network: credentials (cli/credentials.h) and --connect-timeout SECONDS.

#include <chrono>
#include <span>
#include <string>

#include "cli/commands.h"
#include "cli/credentials.h"
#include "cli/option_parser.h"
#include "inventory/registry/registry_network.h"

namespace glimmora::cli {

// Help lines for these options.
extern const char* const kNetworkOptionsHelp;

// These options, for a command's table: -U, -A, -k and --connect-timeout.
std::span<const OptionSpec> NetworkOptionTable();

// The credentials the command line gives; false with *error (a usage error)
// when one lacks its value or they name the account more than once.
bool ReadCredentialOptions(const ParsedArguments& parsed, CredentialOptions* credentials,
                           std::string* error);

// Takes the credential options out of *args (the command parses the rest).
// False with *error when one lacks its value.
bool TakeNetworkOptions(Arguments* args, CredentialOptions* credentials, std::string* error);

// Parses the value of --connect-timeout (seconds, fractions allowed, up to an hour).
bool ParseConnectTimeout(const std::string& text, std::chrono::milliseconds* timeout);

// Resolves the credentials into *options (prompting if need be, printing any
// warning on standard error). False with *error when there are none to use.
bool ResolveNetworkCredentials(const CredentialOptions& credentials,
                               NetworkRegistryOptions* options, std::string* error);

}  // namespace glimmora::cli
