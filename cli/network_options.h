#pragma once
// The options of the commands that open workstations' registries over the
// network: credentials (cli/credentials.h) and --connect-timeout SECONDS.

#include <chrono>
#include <string>

#include "cli/commands.h"
#include "cli/credentials.h"
#include "inventory/registry/registry_network.h"

namespace glimmora::cli {

// Help lines for these options.
extern const char* const kNetworkOptionsHelp;

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
