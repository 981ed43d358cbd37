#include "cli/batch_options.h"

#include <cmath>
#include <cstdlib>

#include "batch/held_file.h"
#include "cli/batch_modes.h"
#include "cli/commands.h"
#include "common/ansi_text.h"

namespace glimmora::cli {

namespace {

constexpr int kMaxLogonFailuresLimit = 1000000;
constexpr int kMaxJobs = 1024;
constexpr double kMaxTimeoutSeconds = 86400;

// The options that are batch's own; the rest are shared with check.
constexpr OptionSpec kBatchOptions[] = {
    {"--offline", true},
    {"--jobs", true},
    {"--timeout", true},
    {"--resume", false},
    {"--merge", false},
    {"--strict-exit", false},
    {"--summary", false},
    {"--retry-from", true},
    {"--summary-json", true},
    {"--encoding", true},
    {"--max-logon-failures", true},
};

bool ParseJobs(const std::string& text, int* jobs) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > kMaxJobs) return false;
  *jobs = static_cast<int>(value);
  return true;
}

bool ParseTimeout(const std::string& text, std::chrono::milliseconds* timeout) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(seconds >= 0) || seconds > kMaxTimeoutSeconds) return false;
  *timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
  // A limit that rounds to nothing would read as "no limit".
  return seconds == 0 || timeout->count() > 0;
}

}  // namespace

std::span<const OptionSpec> BatchOptionTable() {
  return kBatchOptions;
}

void PrintBatchUsage(std::FILE* out) {
  std::fputs(
      "usage: glimmora batch [--offline DIR] [--jobs N] [--timeout S] [--connect-timeout S]\n"
      "                      [--columns specified|extended] [--format csv|jsonl]\n"
      "                      [--present-only] [--pnp-ids FILE] [-U USER | -A FILE | -k]\n"
      "                      [--encoding E] [--summary] [--summary-json FILE]\n"
      "                      [--strict-exit] [--resume] INPUT OUTPUT\n"
      "       glimmora batch [options] --retry-from OLD [--merge] OUTPUT\n"
      "Examines every workstation named in INPUT (one a line) and writes its monitors\n"
      "to OUTPUT, comma-separated. --offline DIR reads DIR/NAME.reg, exports of\n"
      "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY, instead of the network.\n"
      "  --jobs N     examine up to N workstations at once (default 1, up to 1024); the\n"
      "               output is the same, in input order\n"
      "  --timeout S  give a workstation at most S seconds (default 60; 0: no limit);\n"
      "               one that takes longer gets a line saying it timed out\n"
      "  --format F   csv (default) or jsonl: one JSON object a line, one per monitor\n"
      "               and one per workstation without monitors, with its reason\n"
      "  --resume     OUTPUT holds the beginning of an interrupted run of INPUT: go on\n"
      "               after its last whole workstation (a file that does not fit is refused)\n"
      "  --retry-from OLD  examine again the workstations that failed in OLD, a result\n"
      "               file (unreachable, not resolved, registry errors, timed out)\n"
      "  --merge      with --retry-from: OUTPUT is OLD with the lines of those that now\n"
      "               succeed replaced (OUTPUT may be OLD itself)\n"
      "  --encoding E ansi (default: the ANSI code page on Windows, UTF-8 elsewhere),\n"
      "               utf-8, or utf-8-bom (a byte-order mark first, for Excel)\n"
      "  --summary    after the outcome, the counts on standard error: examined, with\n"
      "               monitors, failed by reason, monitors written, slowest, elapsed\n"
      "  --summary-json FILE  the same counts as one JSON object\n"
      "  --strict-exit  exit 3 when the batch finished but some workstations failed\n"
      "  --start-service [--service-journal FILE]  see below\n"
#ifndef _WIN32
      "  --max-logon-failures N  stop logging on after N logon failures in a row, so\n"
      "               that the account is not locked out (default 2; 0: never stop)\n"
#endif
      "INPUT - is standard input, OUTPUT - standard output.\n",
      out);
  std::fprintf(out, kReportOptionsHelp, DefaultPnpIdsPath().c_str());
  std::fputs(kNetworkOptionsHelp, out);
  std::fputs(kServiceOptionsHelp, out);
}

int UsageError(const std::string& reason) {
  std::fprintf(stderr, "glimmora batch: %s\n", reason.c_str());
  PrintBatchUsage(stderr);
  return kExitUsage;
}

bool ReadBatchOptions(const WorkstationCommandLine& line, NetworkRegistryOptions* network,
                      BatchOptions* options, std::string* problem) {
  for (const ParsedOption& option : line.parsed.options) {
    // A view: the options of the table include -U, whose value is a password.
    const std::string_view value = option.value;
    if (option.name == "--offline") {
      options->offlineDir = value;
    } else if (option.name == "--jobs") {
      if (!ParseJobs(std::string(value), &options->jobs)) {
        *problem = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs);
        return false;
      }
    } else if (option.name == "--timeout") {
      if (!ParseTimeout(std::string(value), &options->timeout)) {
        *problem = "--timeout needs a number of seconds (0 to " +
                   std::to_string(static_cast<int>(kMaxTimeoutSeconds)) + ")";
        return false;
      }
    } else if (option.name == "--max-logon-failures") {
      const std::string text(value);
      char* end = nullptr;
      const long number = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || number < 0 || number > kMaxLogonFailuresLimit) {
        *problem = "--max-logon-failures needs a number (0: never stop)";
        return false;
      }
      network->maxLogonFailures = static_cast<int>(number);
    } else if (option.name == "--connect-timeout") {
      if (!ParseConnectTimeout(std::string(value), &network->connectTimeout)) {
        *problem = "--connect-timeout needs a number of seconds";
        return false;
      }
    } else if (option.name == "--format") {
      // jsonl is the report options' own; csv is the default.
      if (value != "csv" && value != "jsonl") {
        *problem = "--format needs csv or jsonl";
        return false;
      }
    } else if (option.name == "--resume") {
      options->resume = true;
    } else if (option.name == "--merge") {
      options->merge = true;
    } else if (option.name == "--strict-exit") {
      options->strictExit = true;
    } else if (option.name == "--summary") {
      options->summaryShown = true;
    } else if (option.name == "--retry-from") {
      options->retryFrom = value;
    } else if (option.name == "--summary-json") {
      options->summaryJsonPath = value;
    } else if (option.name == "--encoding") {
      if (!ParseOutputEncoding(value, &options->encoding)) {
        *problem = "--encoding is ansi, utf-8 or utf-8-bom";
        return false;
      }
      options->encodingGiven = true;
    }
  }
  options->service = line.service;
  options->files = line.parsed.operands;
  return true;
}

std::string OperandProblem(const BatchOptions& options, const ReportOptions& report) {
  const bool retrying = !options.retryFrom.empty();
  if (options.encodingGiven && report.layout.format == ReportFormat::kJson)
    return "--encoding is for the CSV file; JSON lines are UTF-8";
  if (options.resume && retrying)
    return "--resume goes on with a run of INPUT, --retry-from examines OLD's failures again: "
           "give one of them";
  if (options.merge && !retrying) return "--merge goes with --retry-from OLD";
  if (retrying && options.files.size() != 1)
    return options.files.size() == 2 ? "with --retry-from OLD, give OUTPUT only (OLD is the input)"
                                     : "with --retry-from OLD, give OUTPUT";
  if (!retrying && options.files.size() != 2) return "give INPUT and OUTPUT";
  if (std::string problem = ServiceOptionsProblem(options.service, !options.offlineDir.empty());
      !problem.empty())
    return problem;
  if (retrying && TrimWhiteSpace(options.retryFrom) == kStandardStream)
    return "--retry-from needs OLD to be a file (standard input is read only once)";
  if (options.resume && (TrimWhiteSpace(options.files[0]) == kStandardStream ||
                         TrimWhiteSpace(options.files[1]) == kStandardStream))
    return "--resume needs INPUT and OUTPUT to be files";
  return {};
}

std::string SummaryProblem(const BatchOptions& options, const ReportOptions& report,
                           const std::string& inputPath, const std::string& outputPath) {
  const std::string& summary = options.summaryJsonPath;
  if (summary.empty()) return {};
  if (summary == kStandardStream) {
    if (outputPath == kStandardStream)
      return "--summary-json - would put the counts among the result lines on standard "
             "output: give it a file";
    return {};
  }
  const bool retrying = !options.retryFrom.empty();
  const std::pair<std::string, std::string> operands[] = {
      {retrying ? "OLD" : "INPUT", inputPath},
      {"OUTPUT", outputPath},
      {"--pnp-ids", report.pnpIdsPath.value_or(std::string())},
  };
  for (const auto& [name, path] : operands) {
    if (path.empty() || path == kStandardStream || !SameFile(summary, path)) continue;
    return "--summary-json " + summary + " is " + name + " (" + path +
           "): the counts would take its place; give the counts a file of their own";
  }
  return {};
}

}  // namespace glimmora::cli
