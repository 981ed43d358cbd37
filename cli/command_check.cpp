// glimmora check: the Quick Check of one workstation, with the rows the list
// would show written to standard output as a table or as CSV.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "batch/csv_line.h"
#include "batch/json_format.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/display_width.h"
#include "cli/network_options.h"
#include "cli/option_parser.h"
#include "cli/report_options.h"
#include "cli/service_options.h"
#include "cli/workstation_options.h"
#include "common/ansi_text.h"
#include "inventory/offline/registry_offline.h"
#include "inventory/registry/examination.h"
#include "inventory/registry/registry_network.h"
#include "quickcheck/check_sequence.h"
#include "quickcheck/icmp_probe.h"
#include "quickcheck/monitor_list.h"
#include "reachability/probe.h"
#include "resources/texts.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace glimmora::cli {

namespace {

constexpr int kExitListed = 0;
constexpr int kExitNoMonitors = 1;
constexpr int kExitNotOpened = 2;  // unreachable, or the registry could not be opened

constexpr const char* kCheckUsage =
    "usage: glimmora check [--offline DIR] [--sort N] [--descending] [--format table|csv|json]\n"
    "                      [--columns specified|extended] [--present-only] [--pnp-ids FILE]\n"
    "                      [--connect-timeout S] [-U USER | -A FILE | -k] WORKSTATION\n"
    "  --offline DIR   read the registry of WORKSTATION from DIR/WORKSTATION.reg (a registry\n"
    "                  export) instead of over the network; no probe is sent\n"
    "  --sort N        sort by column N (0 Monitor ID ... 9 EDID Version), default 0\n"
    "  --descending    sort in descending order\n"
    "  --format F      table (default), csv, or json (one document, extended fields)\n"
    "%s%s%s"
    "exit status: 0 monitors listed, 1 no monitor information, 2 unreachable or registry\n"
    "not opened, 64 usage error or empty name, 74 standard output not written\n";

enum class OutputFormat { kTable, kCsv };

struct CheckOptions {
  std::optional<std::string> offlineDirectory;
  std::size_t sortColumn = 0;
  bool descending = false;
  OutputFormat format = OutputFormat::kTable;
  std::optional<std::string> workstation;
  std::chrono::milliseconds connectTimeout{10000};
  ServiceOptions service;
};

void PrintCheckCheckUsage(std::FILE* out) {
  char reportHelp[1024];
  std::snprintf(reportHelp, sizeof reportHelp, kReportOptionsHelp, DefaultPnpIdsPath().c_str());
  std::fprintf(out, kCheckUsage, reportHelp, kNetworkOptionsHelp, kServiceOptionsHelp);
}

int CheckUsageError(const std::string& problem) {
  std::fprintf(stderr, "glimmora check: %s\n", problem.c_str());
  PrintCheckCheckUsage(stderr);
  return kExitUsage;
}

// The options that are check's own; the rest are shared with batch.
constexpr OptionSpec kCheckOptions[] = {
    {"--offline", true},
    {"--sort", true},
    {"--descending", false},
};

// 0 when the options were understood, else the exit status to end with.
int ReadCheckOptions(const WorkstationCommandLine& line, CheckOptions* options) {
  for (const ParsedOption& option : line.parsed.options) {
    // A view: the options of the table include -U, whose value is a password.
    const std::string_view value = option.value;
    if (option.name == "--offline") {
      if (value.empty()) return CheckUsageError("--offline needs a directory");
      options->offlineDirectory = value;
    } else if (option.name == "--connect-timeout") {
      if (!ParseConnectTimeout(std::string(value), &options->connectTimeout))
        return CheckUsageError("--connect-timeout needs a number of seconds (up to 3600)");
    } else if (option.name == "--sort") {
      if (value.size() != 1 || value[0] < '0' || value[0] > '9')
        return CheckUsageError("--sort needs a column number from 0 to 9");
      options->sortColumn = static_cast<std::size_t>(value[0] - '0');
    } else if (option.name == "--descending") {
      options->descending = true;
    } else if (option.name == "--format") {
      if (value == "table")
        options->format = OutputFormat::kTable;
      else if (value == "csv")
        options->format = OutputFormat::kCsv;
      else if (value != "json")  // the report options' own
        return CheckUsageError("unknown format '" + std::string(value) + "' (table, csv or json)");
    }
  }
  options->service = line.service;
  if (const std::string problem =
          ServiceOptionsProblem(options->service, options->offlineDirectory.has_value());
      !problem.empty())
    return CheckUsageError(problem);
  if (line.parsed.operands.size() > 1) return CheckUsageError("more than one workstation name");
  if (line.parsed.operands.empty()) return CheckUsageError("no workstation name");
  options->workstation = line.parsed.operands.front();
  return 0;
}

// What the page would show in a message box goes to standard error, with the
// control characters of a name or a system text made harmless.
class StderrMessages : public MessageBoxes {
 public:
  void Show(const std::string& text, MessageIcon) override {
    std::fprintf(stderr, "%s\n", PrintableText(text).c_str());
  }
};

class NoWaitCursor : public WaitCursor {
 public:
  void Begin() override {}
  void End() override {}
};

std::vector<std::string> HeaderTexts() {
  std::vector<std::string> headers;
  for (const MonitorListColumn& column : kMonitorListColumns)
    headers.push_back(LoadText(column.header));
  return headers;
}

std::vector<std::vector<std::string>> ListedRows(const MemoryMonitorList& list) {
  std::vector<std::vector<std::string>> rows;
  for (std::size_t item = 0; item < list.ItemCount(); ++item) {
    const MonitorListRow& row = list.Row(item);
    rows.emplace_back(row.begin(), row.end());
  }
  return rows;
}

// Columns padded to their widest cell, two blanks apart; the last is not padded.
std::string TableText(const std::vector<std::string>& headers,
                      const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::vector<std::string>> lines;
  lines.push_back(headers);
  for (const auto& row : rows) {
    std::vector<std::string> printable;
    for (const std::string& cell : row) printable.push_back(PrintableText(cell));
    lines.push_back(std::move(printable));
  }
  std::vector<std::size_t> widths(headers.size(), 0);
  for (const auto& line : lines) {
    for (std::size_t column = 0; column < line.size(); ++column)
      widths[column] = std::max(widths[column], DisplayWidth(line[column]));
  }
  std::string text;
  auto appendLine = [&](const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column) {
      line += cells[column];
      if (column + 1 < cells.size())
        line.append(widths[column] - DisplayWidth(cells[column]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += line + "\n";
  };
  appendLine(lines.front());
  std::vector<std::string> rules;
  for (std::size_t width : widths) rules.push_back(std::string(width, '-'));
  appendLine(rules);
  for (std::size_t i = 1; i < lines.size(); ++i) appendLine(lines[i]);
  return text;
}

// In a file or a pipe the CSV keeps the values' bytes: they are data. On a
// terminal their control characters are replaced, as in the table.
std::string CsvText(const std::vector<std::string>& headers,
                    const std::vector<std::vector<std::string>>& rows, bool terminal) {
  std::string text = CsvLine(headers);
  for (const auto& row : rows) {
    if (!terminal) {
      text += CsvLine(row);
      continue;
    }
    std::vector<std::string> printable;
    for (const std::string& cell : row) printable.push_back(PrintableText(cell));
    text += CsvLine(printable);
  }
  return text;
}

// Writes everything or says why not: a listing cut short must not pass for a whole one.
bool WriteStandardOutput(const std::string& text, bool binary) {
#ifdef _WIN32
  // CSV lines end in CR LF already; text mode would double the CR.
  if (binary) _setmode(_fileno(stdout), _O_BINARY);
#else
  (void)binary;
#endif
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  return std::fflush(stdout) == 0 && written && !std::ferror(stdout);
}

// A check for an output beyond the specified ones: the same examination,
// reading what the layout needs, the list's order, and the messages the
// Quick Check shows, on standard error.
int RunReportCheck(const CheckOptions& options, const ReportOptions& report,
                   RegistryAccess& registry, IcmpProbe* probe, ServiceStarter* starter) {
  const std::string workstation = TrimWhiteSpace(*options.workstation);
  if (workstation.empty()) {
    std::fprintf(stderr, "%s\n", LoadText(kTextNameNotSpecified).c_str());
    return kExitUsage;
  }
  MakerNames makers;
  LoadMakerNames(report, &makers, "check");
  ProbeFunction ping;
  if (probe != nullptr) {
    ping = [probe](const std::string& name, std::string& text, const Deadline&) {
      return probe->Ping(name, text);
    };
  }
  ExaminationOptions examinationOptions = ExaminationOptionsFor(report.layout);
  examinationOptions.serviceStarter = starter;
  Examination examination =
      ExamineWorkstation(registry, workstation, ping, Deadline(), examinationOptions);
  examination.remoteRoot.reset();
  // The list's order: a stable sort on the column's text, letter case aside.
  std::stable_sort(examination.monitors.begin(), examination.monitors.end(),
                   [&](const ReportedMonitor& a, const ReportedMonitor& b) {
                     auto text = [&](const ReportedMonitor& m) -> const std::string& {
                       return options.sortColumn == 0 ? m.monitorId : m.row[options.sortColumn - 1];
                     };
                     const int order = CompareNoCase(text(a), text(b));
                     return options.descending ? order > 0 : order < 0;
                   });
  const std::optional<WorkstationResult> reason = ReasonOf(examination);
  const std::string message = examination.outcome == ExaminationOutcome::kNoMonitors
                                  ? workstation + LoadText(kTextNoMonitorInformation)
                                  : examination.errorText;
  if (reason) std::fprintf(stderr, "%s\n", PrintableText(message).c_str());

  std::string text;
  const bool json = report.layout.format == ReportFormat::kJson;
  if (json) {
    text = FormatJsonCheck(workstation, examination, message, makers);
  } else if (!reason) {
    std::vector<std::string> headers = HeaderTexts();
    if (report.layout.extendedColumns) {
      for (std::string& header : ExtendedHeaderTexts()) headers.push_back(std::move(header));
    }
    std::vector<std::vector<std::string>> rows;
    for (const ReportedMonitor& monitor : examination.monitors) {
      std::vector<std::string> row = {monitor.monitorId};
      row.insert(row.end(), monitor.row.begin(), monitor.row.end());
      if (report.layout.extendedColumns) {
        for (std::string& cell : ExtendedCells(DescribeMonitor(workstation, monitor, makers)))
          row.push_back(std::move(cell));
      }
      rows.push_back(std::move(row));
    }
    text = options.format == OutputFormat::kCsv ? CsvText(headers, rows, IsTerminal(stdout))
                                                : TableText(headers, rows);
  }
  if (!text.empty() && !WriteStandardOutput(text, options.format == OutputFormat::kCsv || json)) {
    std::fputs("glimmora check: could not write the rows to standard output\n", stderr);
    return kExitOutputError;
  }
  if (!reason) return kExitListed;
  return *reason == WorkstationResult::kNoMonitorInfo ? kExitNoMonitors : kExitNotOpened;
}

}  // namespace

int RunCheckCommand(const Arguments& arguments) {
  WorkstationCommandLine line;
  std::string problem;
  if (!ReadWorkstationCommandLine(arguments, kCheckOptions, "json", &line, &problem))
    return CheckUsageError(problem);
  if (line.parsed.help) {
    PrintCheckCheckUsage(stdout);
    return 0;
  }
  CheckOptions options;
  if (const int status = ReadCheckOptions(line, &options); status != 0) return status;
  const CredentialOptions& credentials = line.credentials;
  const ReportOptions& report = line.report;

  std::unique_ptr<RegistryAccess> registry;
  std::optional<IcmpProbe> probe;
  std::optional<SocketLibraryUse> sockets;  // name resolution needs it on Windows
  if (options.offlineDirectory) {
    registry = std::make_unique<OfflineRegistry>(*options.offlineDirectory);
  } else {
    // Start-up work of the window program: the echo service is loaded once,
    // and a failure is reported and the check goes on without it.
    sockets.emplace();
    if (!TrimWhiteSpace(*options.workstation).empty() && LoadIcmpLibrary() != 0)
      std::fprintf(stderr, "%s\n", LoadText(kTextIcmpLoadError).c_str());
    NetworkRegistryOptions networkOptions;
    networkOptions.connectTimeout = options.connectTimeout;
    networkOptions.readsPresence = report.layout.NeedsPresence();
    // A blank name is refused before anything is asked for.
    if (!TrimWhiteSpace(*options.workstation).empty() &&
        !ResolveNetworkCredentials(credentials, &networkOptions, &problem)) {
      std::fprintf(stderr, "glimmora check: %s\n", problem.c_str());
      return kExitUsage;
    }
    registry = CreateNetworkRegistry(networkOptions);
    probe.emplace();
  }

  ServiceStartSession serviceSession;
  if (!serviceSession.Begin(options.service, *registry, DefaultServiceJournal(), "check",
                            &problem)) {
    std::fprintf(stderr, "glimmora check: %s\n", problem.c_str());
    return registry->ServiceManager() == nullptr ? kExitUsage : kExitNotOpened;
  }
  // The same examination as the Quick Check's, with the service started when it must be.
  if (!report.layout.IsSpecified() || serviceSession.Starter() != nullptr)
    return RunReportCheck(options, report, *registry, probe ? &*probe : nullptr,
                          serviceSession.Starter());

  MemoryMonitorList view;
  MonitorSortState sortState{options.sortColumn, !options.descending};
  MonitorList list(view, sortState);
  StderrMessages messages;
  NoWaitCursor waitCursor;
  const QuickCheckOutcome outcome = RunQuickCheck(
      *options.workstation, {probe ? &*probe : nullptr, *registry, list, messages, waitCursor});

  switch (outcome) {
    case QuickCheckOutcome::kNameEmpty:
      return kExitUsage;
    case QuickCheckOutcome::kUnreachable:
    case QuickCheckOutcome::kRegistryError:
      return kExitNotOpened;
    case QuickCheckOutcome::kNoMonitors:
      return kExitNoMonitors;
    case QuickCheckOutcome::kMonitorsListed:
      break;
  }
  const std::vector<std::string> headers = HeaderTexts();
  const auto rows = ListedRows(view);
  const bool csv = options.format == OutputFormat::kCsv;
  const std::string text =
      csv ? CsvText(headers, rows, IsTerminal(stdout)) : TableText(headers, rows);
  if (!WriteStandardOutput(text, csv)) {
    std::fputs("glimmora check: could not write the rows to standard output\n", stderr);
    return kExitOutputError;
  }
  return kExitListed;
}

}  // namespace glimmora::cli
