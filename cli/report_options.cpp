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

// "--name value" or "--name=value" at args[*i]; advances past the value.
bool TakeValue(const Arguments& args, std::size_t* i, const std::string& name,
               std::optional<std::string>* value) {
  const std::string& arg = args[*i];
  if (arg == name) {
    if (*i + 1 >= args.size()) {
      *value = std::nullopt;
      return true;
    }
    *value = args[++*i];
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  return false;
}

}  // namespace

bool TakeReportOptions(Arguments* args, const char* jsonName, ReportOptions* options,
                       std::string* error) {
  Arguments rest;
  for (std::size_t i = 0; i < args->size(); ++i) {
    const std::string& arg = (*args)[i];
    if (arg == "--") {
      rest.insert(rest.end(), args->begin() + static_cast<std::ptrdiff_t>(i), args->end());
      break;
    }
    std::optional<std::string> value;
    if (TakeValue(*args, &i, "--columns", &value)) {
      if (value == "extended")
        options->layout.extendedColumns = true;
      else if (value == "specified")
        options->layout.extendedColumns = false;
      else {
        *error = "--columns needs specified or extended";
        return false;
      }
    } else if (TakeValue(*args, &i, "--pnp-ids", &value)) {
      if (!value || value->empty()) {
        *error = "--pnp-ids needs a file";
        return false;
      }
      options->pnpIdsPath = *value;
    } else if (arg == "--present-only") {
      options->layout.presentOnly = true;
    } else if (std::size_t at = i; TakeValue(*args, &i, "--format", &value) && value == jsonName) {
      options->layout.format = ReportFormat::kJson;
      options->formatTaken = true;
    } else {
      // Any other --format is the command's own; put it back as it was.
      for (std::size_t j = at; j <= i; ++j) rest.push_back((*args)[j]);
    }
  }
  *args = std::move(rest);
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
