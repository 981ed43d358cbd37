// glimmora batch [--offline DIR] [--jobs N] [--timeout S] INPUT OUTPUT: the
// Batch Process page without the window, with what a fleet's administrator
// needs around it (batch_modes.h). The worker runs on its own thread
// (with --jobs, on several); this one shows the progress once a second and
// turns the first Ctrl-C into a stop request.
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "batch/batch_worker.h"
#include "batch/held_file.h"
#include "batch/run_record.h"
#include "cli/batch_modes.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/display_width.h"
#include "cli/network_options.h"
#include "cli/option_parser.h"
#include "cli/report_options.h"
#include "cli/service_options.h"
#include "common/ansi_text.h"
#include "inventory/offline/registry_offline.h"
#include "inventory/registry/registry_network.h"
#include "reachability/probe.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

constexpr int kExitStopped = 130;
constexpr int kExitFileFailure = 1;
// With --strict-exit: finished, but some workstations could not be examined.
constexpr int kExitFinishedWithFailures = 3;
// Logons were given up after repeated logon failures (the account's sake).
constexpr int kExitLogonsStopped = 4;
constexpr int kMaxLogonFailuresLimit = 1000000;
constexpr auto kProgressPeriod = std::chrono::seconds(1);
// How soon a stop request is answered on standard error.
constexpr auto kStopNoticePeriod = std::chrono::milliseconds(50);
// Files one examination may hold open at once: the echo socket or the name
// lookup's files, then the registry connection with its event loop, or an
// export file; twice what a stalled connection was measured to hold.
constexpr int kFilesPerJob = 4;
constexpr int kMaxJobs = 1024;
constexpr double kMaxTimeoutSeconds = 86400;
// Names of workstations under examination shown on the progress line.
constexpr std::size_t kNamesShownInFlight = 3;

void PrintUsage(std::FILE* out) {
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

constexpr OptionSpec kBatchOptions[] = {
    {"--offline", true},
    {"--jobs", true},
    {"--timeout", true},
    {"--connect-timeout", true},
    {"--format", true},
    {"--resume", false},
    {"--merge", false},
    {"--strict-exit", false},
    {"--summary", false},
    {"--retry-from", true},
    {"--summary-json", true},
    {"--encoding", true},
    {"--max-logon-failures", true},
    {"--start-service", false},
    {"--service-journal", true},
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

std::string Elapsed(std::chrono::steady_clock::duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

// A name as progress shows it. Names come from the input file: no control
// character reaches the terminal, and a runaway line of the input is not
// printed whole once a second (the output file carries it whole).
constexpr std::size_t kShownNameBytes = 256;

std::string ShownName(std::string_view name) {
  return ShortPrintableText(name, kShownNameBytes);
}

// The result file, each write of which a second Ctrl-C lets finish: a
// workstation's lines, written at once, reach the file whole or not at all.
class UninterruptedOutput : public OutputStream {
 public:
  explicit UninterruptedOutput(std::unique_ptr<OutputStream> file) : file_(std::move(file)) {}
  std::size_t Write(std::string_view bytes) override {
    UninterruptedWrite whole;
    return file_->Write(bytes);
  }
  bool Close() override { return file_->Close(); }
  std::string FailureReason() const override { return file_->FailureReason(); }

 private:
  std::unique_ptr<OutputStream> file_;
};

std::string SecondsText(std::chrono::steady_clock::duration duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

std::string Number(std::uint64_t value) {
  return std::to_string(value);
}

// The counts of the end, after the outcome, on standard error.
std::string SummaryText(const BatchSummary& summary) {
  std::string text = "Workstations examined: " + Number(summary.examined) + " (with monitors " +
                     Number(summary.withMonitors) + ", without monitor information " +
                     Number(summary.withoutMonitorInfo) + ", failed " + Number(summary.Failed()) +
                     ")\n";
  if (summary.keptFromEarlierRun > 0)
    text += "Kept from the earlier run: " + Number(summary.keptFromEarlierRun) + " workstations\n";
  text += "Failed: not found " + Number(summary.notFound) + ", no reply " +
          Number(summary.noReply) + ", registry refused or unreachable " +
          Number(summary.registryUnreachable) + ", access denied " +
          Number(summary.registryDenied) + ", timed out " + Number(summary.timedOut) + "\n";
  text += "Monitors written: " + Number(summary.monitorsWritten) + "\n";
  if (!summary.slowestWorkstation.empty())
    text += "Slowest: " + ShownName(summary.slowestWorkstation) + " (" +
            SecondsText(summary.slowest) + ")\n";
  if (summary.servicesAsked)
    text += "Remote Registry services: running " + Number(summary.servicesRunning) +
            ", started and put back " + Number(summary.servicesStartedRestored) + ", not started " +
            Number(summary.servicesStartFailed) + ", not put back " +
            Number(summary.servicesRestoreFailed) + "\n";
  text += "Elapsed: " + SecondsText(summary.elapsed) + "\n";
  return text;
}

// --summary-json FILE: the counts of this run or of none. FILE is removed as
// the run begins, so that a run ended before its counts (a second Ctrl-C, a
// kill) leaves no earlier run's counts looking like its own; at the end, or
// when the run is refused, it is written whole through a file beside it.
class SummaryJson {
 public:
  explicit SummaryJson(std::string path) : path_(std::move(path)) {}
  bool Given() const { return !path_.empty(); }
  const std::string& Path() const { return path_; }

  void Begin() const {
    if (Given() && path_ != kStandardStream) std::remove(path_.c_str());
  }

  bool Write(const BatchSummary& summary, const char* outcome, std::string* reason) const {
    const std::string json = FormatSummaryJson(summary, outcome);
    if (path_ != kStandardStream) return ReplaceWholeFile(path_, json, reason);
    const bool written = std::fwrite(json.data(), 1, json.size(), stdout) == json.size();
    if (std::fflush(stdout) == 0 && written) return true;
    *reason = FileErrorReason({}, errno);
    return false;
  }

 private:
  std::string path_;
};

// Progress on stderr: on a terminal one line rewritten in place, elsewhere a
// line each time the workstation under examination changes.
class ProgressDisplay {
 public:
  ProgressDisplay(const BatchState& state, bool parallel)
      : state_(state),
        parallel_(parallel),
        terminal_(IsTerminal(stderr)),
        start_(std::chrono::steady_clock::now()) {}

  void Show() {
    if (parallel_) return ShowParallel();
    const std::string workstation = ShownName(ExaminedWorkstation());
    if (!terminal_) {
      if (!workstation.empty() && workstation != lastWorkstation_)
        std::fprintf(stderr, "%s%s\n", LoadText(kTextChecking).c_str(), workstation.c_str());
      lastWorkstation_ = workstation;
      return;
    }
    Draw(workstation.empty() ? std::string() : "  " + LoadText(kTextChecking) + workstation);
  }

  // Said at once when the first Ctrl-C arrives: what the batch waits for
  // before it ends, and how to end it sooner.
  void Stopping(std::chrono::milliseconds timeout) {
    std::vector<std::string> waiting;
    if (parallel_) {
      waiting = state_.WorkstationsInFlight();
    } else if (const std::string name = ExaminedWorkstation(); !name.empty()) {
      waiting.push_back(name);
    }
    std::string message = "glimmora batch: stopping";
    if (!waiting.empty()) {
      message += waiting.size() == 1 ? "; waiting for the workstation under examination:"
                                     : "; waiting for the " + std::to_string(waiting.size()) +
                                           " workstations under examination:";
      for (std::size_t i = 0; i < waiting.size() && i < kNamesShownInFlight; ++i)
        message += " " + ShownName(waiting[i]);
      if (waiting.size() > kNamesShownInFlight) message += " ...";
      if (timeout.count() > 0)
        message += " (at most " + std::to_string((timeout.count() + 999) / 1000) + " s)";
    }
    message += ". Ctrl-C again ends the program at once; the finished workstations stay.";
    if (terminal_ && lastWidth_ > 0) std::fputs("\n", stderr);
    lastWidth_ = 0;
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
  }

  // The last count and time stay on the terminal, without a workstation.
  void Finish() {
    if (!terminal_) return;
    Draw({});
    std::fputs("\n", stderr);
  }

 private:
  // The workstation under examination; none while the batch waits for the
  // next line of the input, though the last name read is still recorded.
  std::string ExaminedWorkstation() const {
    // The worker records the name before it counts it as read, so a count
    // read here covers the name read after it.
    const std::uint64_t read = state_.workstationsRead.load();
    const std::uint64_t finished = state_.workstationsFinished.load();
    if (finished >= read) return {};
    return state_.CurrentWorkstation();
  }

  // Finished of read, how many are under examination, and the first of them
  // in input order: the one the output waits for.
  void ShowParallel() {
    std::vector<std::string> inFlight = state_.WorkstationsInFlight();
    for (std::string& name : inFlight) name = ShownName(name);
    std::string checking;
    if (!inFlight.empty()) {
      char count[32];
      std::snprintf(count, sizeof count, "  (%zu) ", inFlight.size());
      checking = count + LoadText(kTextChecking);
      for (std::size_t i = 0; i < inFlight.size() && i < kNamesShownInFlight; ++i)
        checking += (i == 0 ? "" : " ") + inFlight[i];
      if (inFlight.size() > kNamesShownInFlight) checking += " ...";
    }
    if (terminal_) return Draw(checking);
    const std::string first = inFlight.empty() ? std::string() : inFlight.front();
    if (!first.empty() && first != lastWorkstation_)
      std::fprintf(stderr, "%s%s\n", Head().c_str(), checking.c_str());
    lastWorkstation_ = first;
  }

  std::string Head() const {
    char head[96];
    const std::string elapsed = Elapsed(std::chrono::steady_clock::now() - start_);
    if (parallel_)
      std::snprintf(head, sizeof head, "[%llu/%llu] %s",
                    static_cast<unsigned long long>(state_.workstationsFinished.load()),
                    static_cast<unsigned long long>(state_.workstationsRead.load()),
                    elapsed.c_str());
    else
      std::snprintf(head, sizeof head, "[%llu] %s",
                    static_cast<unsigned long long>(state_.linesRead.load()), elapsed.c_str());
    return head;
  }

  void Draw(const std::string& checking) {
    const std::string head = Head();
    std::string line = head + checking;
    const std::size_t width = line.size();
    // Blanks over what is left of a longer previous line.
    if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
    lastWidth_ = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
  }

  const BatchState& state_;
  const bool parallel_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  std::string lastWorkstation_;
  std::size_t lastWidth_ = 0;
};

}  // namespace

namespace {

// A command line that cannot be run: the reason, then how it is used.
int UsageError(const std::string& reason) {
  std::fprintf(stderr, "glimmora batch: %s\n", reason.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}

struct BatchOptions {
  std::string offlineDir;
  int jobs = 1;
  std::chrono::milliseconds timeout = kDefaultWorkstationTimeout;
  bool resume = false;
  bool merge = false;
  bool strictExit = false;
  bool summaryShown = false;
  bool encodingGiven = false;
  OutputEncoding encoding = OutputEncoding::kAnsi;
  std::string retryFrom;
  std::string summaryJsonPath;
  ServiceOptions service;
  std::vector<std::string> files;
};

// Reads the options that are the command's own; false with *problem (a
// usage error) naming the one that is wrong.
bool ReadBatchOptions(const ParsedArguments& parsed, NetworkRegistryOptions* network,
                      BatchOptions* options, std::string* problem) {
  for (const ParsedOption& option : parsed.options) {
    const std::string& value = option.value;
    if (option.name == "--offline") {
      options->offlineDir = value;
    } else if (option.name == "--jobs") {
      if (!ParseJobs(value, &options->jobs)) {
        *problem = "--jobs needs a number from 1 to " + std::to_string(kMaxJobs);
        return false;
      }
    } else if (option.name == "--timeout") {
      if (!ParseTimeout(value, &options->timeout)) {
        *problem = "--timeout needs a number of seconds (0 to " +
                   std::to_string(static_cast<int>(kMaxTimeoutSeconds)) + ")";
        return false;
      }
    } else if (option.name == "--max-logon-failures") {
      char* end = nullptr;
      const long number = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || number < 0 || number > kMaxLogonFailuresLimit) {
        *problem = "--max-logon-failures needs a number (0: never stop)";
        return false;
      }
      network->maxLogonFailures = static_cast<int>(number);
    } else if (option.name == "--connect-timeout") {
      if (!ParseConnectTimeout(value, &network->connectTimeout)) {
        *problem = "--connect-timeout needs a number of seconds";
        return false;
      }
    } else if (option.name == "--format") {
      // jsonl was taken with the report options; csv is the default.
      if (value != "csv") {
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
    } else if (option.name == "--start-service") {
      options->service.startService = true;
    } else if (option.name == "--service-journal") {
      options->service.journalPath = value;
    } else if (option.name == "--encoding") {
      if (!ParseOutputEncoding(value, &options->encoding)) {
        *problem = "--encoding is ansi, utf-8 or utf-8-bom";
        return false;
      }
      options->encodingGiven = true;
    }
  }
  options->files = parsed.operands;
  return true;
}

// The operands and options that do not go together; empty when they do.
std::string OperandProblem(const BatchOptions& options, const ReportOptions& report) {
  const bool retrying = !options.retryFrom.empty();
  if (options.encodingGiven && report.layout.format == ResultFormat::kJson)
    return "--encoding is for the CSV file; JSON lines are UTF-8";
  if (options.resume && retrying)
    return "--resume goes on with a run of INPUT, --retry-from examines OLD's failures again: "
           "give one of them";
  if (options.merge && !retrying) return "--merge goes with --retry-from OLD";
  if (retrying && options.files.size() != 1)
    return options.files.size() == 2 ? "with --retry-from OLD, give OUTPUT only (OLD is the input)"
                                     : "with --retry-from OLD, give OUTPUT";
  if (!retrying && options.files.size() != 2) return "give INPUT and OUTPUT";
  if (!options.service.journalPath.empty() && !options.service.startService)
    return "--service-journal goes with --start-service";
  if (options.service.startService && !options.offlineDir.empty())
    return "--start-service reaches workstations over the network; --offline reads exports";
  if (retrying && TrimWhiteSpace(options.retryFrom) == kStandardStream)
    return "--retry-from needs OLD to be a file (standard input is read only once)";
  if (options.resume && (TrimWhiteSpace(options.files[0]) == kStandardStream ||
                         TrimWhiteSpace(options.files[1]) == kStandardStream))
    return "--resume needs INPUT and OUTPUT to be files";
  return {};
}

// --summary-json FILE must not take the place of a file the run reads or
// writes, nor share standard output with the result lines.
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

}  // namespace

int RunBatchCommand(const Arguments& arguments) {
  Arguments args = arguments;
  CredentialOptions credentials;
  std::string problem;
  if (!TakeNetworkOptions(&args, &credentials, &problem)) return UsageError(problem);
  ReportOptions report;
  if (!TakeReportOptions(&args, "jsonl", &report, &problem)) return UsageError(problem);
  NetworkRegistryOptions networkOptions;
  ParsedArguments parsed;
  if (!ParseArguments(args, kBatchOptions, &parsed, &problem)) return UsageError(problem);
  if (parsed.help) {
    PrintUsage(stdout);
    return 0;
  }
  BatchOptions options;
  if (!ReadBatchOptions(parsed, &networkOptions, &options, &problem)) return UsageError(problem);
  if (problem = OperandProblem(options, report); !problem.empty()) return UsageError(problem);
  const bool retrying = !options.retryFrom.empty();
  OutputEncoding encoding = options.encoding;

  BatchState state;
  // As the page takes them from its edits: blanks at either end removed.
  state.inputPath = retrying ? TrimWhiteSpace(options.retryFrom) : TrimWhiteSpace(options.files[0]);
  state.outputPath = TrimWhiteSpace(options.files.back());
  if (state.inputPath.empty()) {
    std::fprintf(stderr, "glimmora batch: %s\n", LoadText(kTextInputNameNotSpecified).c_str());
    return kExitUsage;
  }
  if (state.outputPath.empty()) {
    std::fprintf(stderr, "glimmora batch: %s\n", LoadText(kTextOutputNameNotSpecified).c_str());
    return kExitUsage;
  }
  // Checked before anything is read or written.
  if (problem = SummaryProblem(options, report, state.inputPath, state.outputPath);
      !problem.empty())
    return UsageError(problem);
  const SummaryJson summaryJson(options.summaryJsonPath);
  summaryJson.Begin();
  BatchSummary summary;
  // A run refused before its batch: the counts of nothing, and why.
  const auto refuse = [&](const std::string& why, int status) {
    std::fprintf(stderr, "glimmora batch: %s\n", why.c_str());
    std::string reason;
    if (summaryJson.Given() && status != kExitUsage) summaryJson.Write(summary, "failed", &reason);
    return status;
  };

  std::unique_ptr<RegistryAccess> registry;
  if (options.offlineDir.empty()) {
    if (!ResolveNetworkCredentials(credentials, &networkOptions, &problem))
      return refuse(problem, kExitUsage);
    networkOptions.readsPresence = report.layout.NeedsPresence();
    registry = CreateNetworkRegistry(networkOptions);
  } else {
    // Otherwise every workstation would get a line saying its export is missing.
    std::error_code error;
    if (!std::filesystem::is_directory(options.offlineDir, error))
      return refuse(options.offlineDir + ": not a directory", kExitUsage);
    registry = std::make_unique<OfflineRegistry>(options.offlineDir);
  }

  // Every examination under way holds files open; beyond what the process may
  // open, they would fail for want of them, which is no workstation's fault.
  int jobs = options.jobs;
  unsigned long long fileLimit = 0;
  const int jobsAllowed = JobsWithinFileLimit(jobs, kFilesPerJob, &fileLimit);
  if (jobsAllowed < 1)
    return refuse("the process may have only " + std::to_string(fileLimit) +
                      " files open at once (ulimit -n): too few to examine a workstation",
                  kExitFileFailure);
  if (jobsAllowed < jobs) {
    std::fprintf(stderr,
                 "glimmora batch: --jobs %d lowered to %d: the process may have only %llu files "
                 "open at once (ulimit -n)\n",
                 jobs, jobsAllowed, fileLimit);
    jobs = jobsAllowed;
  }

  ServiceStartSession serviceSession;
  const std::string defaultJournal = state.outputPath == kStandardStream
                                         ? DefaultServiceJournal()
                                         : state.outputPath + ".glimmora-services";
  if (!serviceSession.Begin(options.service, *registry, defaultJournal, "batch", &problem))
    return refuse(problem, registry->ServiceManager() == nullptr ? kExitUsage : kExitFileFailure);
  summary.servicesAsked = options.service.startService;

  MakerNames makers;
  LoadMakerNames(report, &makers, "batch");
  BatchServices services = PlatformBatchServices();
  services.layout = report.layout;
  services.layout.makers = &makers;
  services.registry = registry.get();
  services.jobs = jobs;
  services.workstationTimeout = options.timeout;
  services.serviceStarter = serviceSession.Starter();
  if (options.offlineDir.empty()) {
    // Without the echo service every workstation is still tried through its registry.
    if (LoadIcmpLibrary() != 0)
      std::fprintf(stderr, "glimmora batch: %s\n", LoadText(kTextIcmpLoadError).c_str());
    services.probe = [](const std::string& name, std::string& text, const Deadline& deadline) {
      return PingHost(name, text, deadline);
    };
  }

  // A run that writes OUTPUT records beside it what shapes its lines, for a
  // resume to check, until the run is finished.
  const bool recordsRun = !retrying && state.outputPath != kStandardStream;
  RunRecord record;
  if (recordsRun && !MakeRunRecord(report.layout, report.pnpIdsPath.value_or(DefaultPnpIdsPath()),
                                   encoding, state.inputPath, &record, &problem))
    return refuse(problem, kExitFileFailure);
  // How this run's lines read back, for --resume and --retry-from.
  const std::unique_ptr<ResultLayout> readBack = ResultLayoutFor(report.layout);
  const ResultLayout& layout = *readBack;
  CountWorkstations(&services, &summary);
  // With --resume, what stays of the earlier run's output.
  std::uint64_t keptBytes = 0;
  if (options.resume && !PrepareResume(state.inputPath, state.outputPath, encoding, layout, record,
                                       &services, &keptBytes, &summary, &problem))
    return refuse(problem, kExitFileFailure);
  std::error_code sameFile;
  if (retrying && !options.merge &&
      std::filesystem::equivalent(state.inputPath, state.outputPath, sameFile))
    // The retried lines alone would take the place of all of OLD.
    return refuse("OUTPUT is OLD; --merge updates it in place", kExitUsage);
  RetryRun retry;
  if (retrying) {
    if (!retry.Read(state.inputPath, state.outputPath, options.merge, layout,
                    report.layout.format == ResultFormat::kJson, options.encodingGiven, &encoding,
                    &problem))
      return refuse(problem, kExitFileFailure);
    services.workstationList = retry.Names();
  }
  services.openOutputFile = [&keptBytes, recordsRun, &record](
                                const std::string& path,
                                std::string* reason) -> std::unique_ptr<OutputStream> {
    std::unique_ptr<OutputStream> file = OpenOutputFileKeeping(path, keptBytes, reason);
    if (!file) return nullptr;
    std::error_code error;
    std::string why;
    if (recordsRun && std::filesystem::is_regular_file(path, error) &&
        !ReplaceWholeFile(RunRecordPath(path), FormatRunRecord(record), &why))
      std::fprintf(stderr,
                   "glimmora batch: warning: %s not written (%s); a --resume of %s cannot "
                   "check its options and list\n",
                   RunRecordPath(path).c_str(), why.c_str(), path.c_str());
    return std::make_unique<UninterruptedOutput>(std::move(file));
  };
  UseBatchStreams(&services, encoding);
  if (options.merge) retry.CollectInstead(&services);

  // The page pauses so its timer shows the emptied name; here the last
  // progress line is drawn right after the end.
  services.finishPause = std::chrono::milliseconds(0);
  std::mutex finishLock;
  std::condition_variable finishSignal;
  bool finished = false;
  services.notifyFinished = [&] {
    std::lock_guard<std::mutex> guard(finishLock);
    finished = true;
    finishSignal.notify_all();
  };

  InstallStopRequests(&state.stopRequested);
  ProgressDisplay progress(state, jobs > 1);
  const auto started = std::chrono::steady_clock::now();
  std::thread worker(BatchThreadProc, std::ref(state), std::cref(services));
  {
    // Woken often enough to answer a Ctrl-C at once; progress once a second.
    std::unique_lock<std::mutex> guard(finishLock);
    auto nextProgress = std::chrono::steady_clock::now() + kProgressPeriod;
    bool stopNoticed = false;
    while (!finishSignal.wait_for(guard, kStopNoticePeriod, [&] { return finished; })) {
      guard.unlock();
      if (!stopNoticed && state.StopRequested()) {
        stopNoticed = true;
        progress.Stopping(options.timeout);
      }
      if (std::chrono::steady_clock::now() >= nextProgress) {
        progress.Show();
        nextProgress += kProgressPeriod;
      }
      guard.lock();
    }
  }
  worker.join();
  RestoreStopRequests();
  progress.Finish();

  summary.elapsed = std::chrono::steady_clock::now() - started;

  // The report the page shows, in its order of precedence.
  int status = 0;
  const char* outcome = "finished";
  // Standard output that cannot be written ends every command alike.
  const bool toStandardOutput = state.outputPath == kStandardStream;
  if (state.StopRequested()) {
    std::fprintf(stderr, "%s\n", LoadText(kTextBatchAborted).c_str());
    status = kExitStopped;
    outcome = "stopped";
  } else if (state.failed != 0) {
    // The program's own text, then the file and the system's reason.
    const bool outputFailed = !state.failurePath.empty() && state.failurePath == state.outputPath;
    const std::string path =
        outputFailed && toStandardOutput ? std::string("standard output") : state.failurePath;
    if (!path.empty())
      std::fprintf(stderr, "glimmora batch: %s %s%s%s\n", state.failureText.c_str(), path.c_str(),
                   state.failureReason.empty() ? "" : ": ", state.failureReason.c_str());
    else
      std::fprintf(stderr, "glimmora batch: %s\n", state.failureText.c_str());
    status = outputFailed && toStandardOutput ? kExitOutputError : kExitFileFailure;
    outcome = "failed";
  }
  // What a stopped retry brought back is merged too: OLD's lines stay for the rest.
  if (options.merge && state.failed == 0 &&
      !retry.WriteMerged(state.outputPath, encoding, &problem)) {
    std::fprintf(stderr, "glimmora batch: %s\n", problem.c_str());
    status = toStandardOutput ? kExitOutputError : kExitFileFailure;
    outcome = "failed";
  }
  if (status == 0) {
    std::fprintf(stderr, "%s\n", LoadText(kTextBatchFinished).c_str());
    if (options.strictExit && summary.Failed() > 0) status = kExitFinishedWithFailures;
    // The run is whole: nothing is left to resume.
    if (recordsRun) std::remove(RunRecordPath(state.outputPath).c_str());
  }
  std::string account;
  if (registry != nullptr && registry->LogonsStopped(&account)) {
    std::fprintf(stderr,
                 "glimmora batch: stopped logging on as %s after %d logon failures in a row, so "
                 "that the account is not locked out; the workstations after them were not "
                 "tried. Check the credentials and run again.\n",
                 account.c_str(), networkOptions.maxLogonFailures);
    if (status == 0 || status == kExitFinishedWithFailures) status = kExitLogonsStopped;
  }
  // Opt-in: scripts may read what a batch has always said at its end.
  if (options.summaryShown && (state.failed == 0 || summary.examined > 0))
    std::fputs(SummaryText(summary).c_str(), stderr);
  std::string reason;
  if (summaryJson.Given() && !summaryJson.Write(summary, outcome, &reason)) {
    const bool toStdout = summaryJson.Path() == kStandardStream;
    std::fprintf(stderr, "glimmora batch: %s %s: %s\n", LoadText(kTextOutputWriteError).c_str(),
                 toStdout ? "standard output" : summaryJson.Path().c_str(), reason.c_str());
    if (status == 0 || status == kExitFinishedWithFailures)
      status = toStdout ? kExitOutputError : kExitFileFailure;
  }
  return status;
}

}  // namespace glimmora::cli
