#pragma once
// The output options of glimmora check and glimmora batch beyond the
// specified outputs: --columns specified|extended, --format (json for check,
// jsonl for batch), --present-only and --pnp-ids FILE.

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "batch/result_format.h"
#include "cli/commands.h"
#include "cli/option_parser.h"
#include "inventory/makers/maker_names.h"

namespace glimmora::cli {

// Help lines for these options.
extern const char* const kReportOptionsHelp;

struct ReportOptions {
  ReportLayout layout;
  std::optional<std::string> pnpIdsPath;  // none: DefaultPnpIdsPath()
  // --format was given a value only this module knows (json, jsonl).
  bool formatTaken = false;
};

// These options, for a command's table: --columns, --format, --present-only
// and --pnp-ids.
std::span<const OptionSpec> ReportOptionTable();

// Reads these options. `jsonName` is the --format value that asks for JSON
// ("json" for check, "jsonl" for batch); other --format values are the
// command's own. False with *error when a value is missing or wrong.
bool ReadReportOptions(const ParsedArguments& parsed, std::string_view jsonName,
                       ReportOptions* options, std::string* error);

// Loads the maker names the layout needs into *makers: one warning on
// standard error when the pnp.ids cannot be used; the names of our own list
// stay.
void LoadMakerNames(const ReportOptions& options, MakerNames* makers, const char* command);

}  // namespace glimmora::cli
