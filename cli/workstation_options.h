#pragma once
// The command line of the commands that examine workstations (glimmora check
// and glimmora batch): one table of the network, report and service options
// with the command's own, read in one pass.

#include <span>
#include <string>
#include <string_view>

#include "cli/commands.h"
#include "cli/credentials.h"
#include "cli/option_parser.h"
#include "cli/report_options.h"
#include "cli/service_options.h"

namespace glimmora::cli {

struct WorkstationCommandLine {
  ParsedArguments parsed;  // the command reads its own options from it
  CredentialOptions credentials;
  ReportOptions report;
  ServiceOptions service;
};

// Reads `args` (which must outlive *line) over the shared options and `own`.
// False with *problem, a usage error: what is wrong with the credentials,
// then with the report options (wherever they stand), then an unknown option
// or a missing value before any help request. `jsonName` is the --format
// value that asks for JSON.
bool ReadWorkstationCommandLine(const Arguments& args, std::span<const OptionSpec> own,
                                std::string_view jsonName, WorkstationCommandLine* line,
                                std::string* problem);

}  // namespace glimmora::cli
