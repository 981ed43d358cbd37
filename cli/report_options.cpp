#include "cli/report_options.h"

#include <cstdio>

#include "cli/display_width.h"
#include "common/ansi_text.h"

namespace glimmora::cli {

const char* const kReportOptionsHelp =
    "  --columns C     specified (default) or extended: adds Maker, Manufacturer Code,\n"
    "                  Product Code, Present, Inventory Model, Inventory Serial, Serial\n"
    "                  Source, Placeholder Serial, ID Serial, Year Kind, EDID Checksum\n"
    "  --present-only  leave out monitors that are not plugged in now (ghosts)\n"
    "  --pnp-ids FILE  the PNP vendor ID list for maker names (default %s)\n";

namespace {

constexpr OptionSpec kReportOptions[] = {
    {"--columns", true},
    {"--format", true},
    {"--present-only", false},
    {"--pnp-ids", true},
};

}  // namespace

std::span<const OptionSpec> ReportOptionTable() {
  return kReportOptions;
}

bool ReadReportOptions(const ParsedArguments& parsed, std::string_view jsonName,
                       ReportOptions* options, std::string* error) {
  for (const ParsedOption& option : parsed.options) {
    const std::string_view value = option.value;
    if (option.name == "--columns") {
      if (option.valueMissing || (value != "extended" && value != "specified")) {
        *error = "--columns needs specified or extended";
        return false;
      }
      options->layout.extendedColumns = value == "extended";
    } else if (option.name == "--pnp-ids") {
      if (value.empty()) {
        *error = "--pnp-ids needs a file";
        return false;
      }
      options->pnpIdsPath = std::string(value);
    } else if (option.name == "--present-only") {
      options->layout.presentOnly = true;
    } else if (option.name == "--format" && !option.valueMissing && value == jsonName) {
      // Any other --format is the command's own.
      options->layout.format = ReportFormat::kJson;
      options->formatTaken = true;
    }
  }
  return true;
}

void LoadMakerNames(const ReportOptions& options, MakerNames* makers, const char* command) {
  if (!options.layout.ShowsExtendedFields()) return;
  std::string problem;
  if (!makers->LoadPnpIds(options.pnpIdsPath.value_or(DefaultPnpIdsPath()), &problem))
    std::fprintf(stderr, "glimmora %s: warning: %s; maker names only from the built-in list\n",
                 command, PrintableText(problem).c_str());
}

}  // namespace glimmora::cli
