#include "cli/workstation_options.h"

#include <vector>

#include "cli/network_options.h"

namespace glimmora::cli {

bool ReadWorkstationCommandLine(const Arguments& args, std::span<const OptionSpec> own,
                                std::string_view jsonName, WorkstationCommandLine* line,
                                std::string* problem) {
  const std::vector<OptionSpec> table =
      JoinOptionTables({NetworkOptionTable(), ReportOptionTable(), ServiceOptionTable(), own});
  line->parsed = ReadArguments(args, table);
  if (!ReadCredentialOptions(line->parsed, &line->credentials, problem)) return false;
  if (!ReadReportOptions(line->parsed, jsonName, &line->report, problem)) return false;
  if (!line->parsed.problem.empty()) {
    *problem = line->parsed.problem;
    return false;
  }
  line->service = ReadServiceOptions(line->parsed);
  return true;
}

}  // namespace glimmora::cli
