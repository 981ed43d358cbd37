// glimmora batch [--offline DIR] [--jobs N] [--timeout S] INPUT OUTPUT: the
// Batch Process page without the window, with what a fleet's administrator
// needs around it (batch_plans.h). The worker runs on its own thread
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
#include <optional>
#include <string>
#include <thread>

#include "batch/batch_worker.h"
#include "batch/held_file.h"
#include "batch/run_record.h"
#include "cli/batch_modes.h"
#include "cli/batch_options.h"
#include "cli/batch_plans.h"
#include "cli/batch_progress.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/display_width.h"
#include "cli/network_options.h"
#include "cli/report_options.h"
#include "cli/service_options.h"
#include "cli/workstation_options.h"
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
constexpr auto kProgressPeriod = std::chrono::seconds(1);
// How soon a stop request is answered on standard error.
constexpr auto kStopNoticePeriod = std::chrono::milliseconds(50);
// Files one examination may hold open at once: the echo socket or the name
// lookup's files, then the registry connection with its event loop, or an
// export file; twice what a stalled connection was measured to hold.
constexpr int kFilesPerJob = 4;

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

// Runs the batch on a thread of its own, showing its progress on standard
// error and turning the first Ctrl-C into a stop request; the time it took.
std::chrono::steady_clock::duration RunShowingProgress(BatchState& state, BatchServices& services,
                                                       ConsoleObserver& observer,
                                                       std::chrono::milliseconds timeout) {
  // The page pauses so its timer shows the emptied name; here the last
  // progress line is drawn right after the end.
  services.finishPause = std::chrono::milliseconds(0);
  InstallStopRequests(&state.stopRequested);
  ProgressDisplay progress(state, services.jobs > 1);
  const auto started = std::chrono::steady_clock::now();
  std::thread worker(BatchThreadProc, std::ref(state), std::cref(services));
  // Woken often enough to answer a Ctrl-C at once; progress once a second.
  auto nextProgress = std::chrono::steady_clock::now() + kProgressPeriod;
  bool stopNoticed = false;
  while (!observer.WaitFinished(kStopNoticePeriod)) {
    if (!stopNoticed && state.StopRequested()) {
      stopNoticed = true;
      progress.Stopping(timeout);
    }
    if (std::chrono::steady_clock::now() >= nextProgress) {
      progress.Show();
      nextProgress += kProgressPeriod;
    }
  }
  worker.join();
  RestoreStopRequests();
  progress.Finish();
  return std::chrono::steady_clock::now() - started;
}

// How the batch itself ended, as the page reports it in its order of
// precedence: a stop, then a file that failed (said on standard error).
struct BatchEnd {
  int status = 0;
  const char* outcome = "finished";
};
BatchEnd ReportBatchEnd(const BatchState& state) {
  BatchEnd end;
  // Standard output that cannot be written ends every command alike.
  const bool toStandardOutput = state.outputPath == kStandardStream;
  if (state.StopRequested()) {
    std::fprintf(stderr, "%s\n", LoadText(kTextBatchAborted).c_str());
    end = {kExitStopped, "stopped"};
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
    end = {outputFailed && toStandardOutput ? kExitOutputError : kExitFileFailure, "failed"};
  }
  return end;
}

// The command line, read and checked before anything is read or written.
struct BatchCommandLine {
  WorkstationCommandLine line;
  BatchOptions options;
  NetworkRegistryOptions network;
  // As the page takes them from its edits: blanks at either end removed.
  std::string inputPath;  // INPUT, or OLD for a retry
  std::string outputPath;
};

// The exit status when the command ends with its command line (a usage
// error, or the help asked for); none when it is to run.
std::optional<int> ReadCommandLine(const Arguments& arguments, BatchCommandLine* command) {
  std::string problem;
  if (!ReadWorkstationCommandLine(arguments, BatchOptionTable(), "jsonl", &command->line, &problem))
    return UsageError(problem);
  if (command->line.parsed.help) {
    PrintBatchUsage(stdout);
    return 0;
  }
  BatchOptions& options = command->options;
  const ReportOptions& report = command->line.report;
  if (!ReadBatchOptions(command->line, &command->network, &options, &problem))
    return UsageError(problem);
  if (problem = OperandProblem(options, report); !problem.empty()) return UsageError(problem);
  const bool retrying = !options.retryFrom.empty();
  command->inputPath = TrimWhiteSpace(retrying ? options.retryFrom : options.files[0]);
  command->outputPath = TrimWhiteSpace(options.files.back());
  if (command->inputPath.empty()) {
    std::fprintf(stderr, "glimmora batch: %s\n", LoadText(kTextInputNameNotSpecified).c_str());
    return kExitUsage;
  }
  if (command->outputPath.empty()) {
    std::fprintf(stderr, "glimmora batch: %s\n", LoadText(kTextOutputNameNotSpecified).c_str());
    return kExitUsage;
  }
  if (problem = SummaryProblem(options, report, command->inputPath, command->outputPath);
      !problem.empty())
    return UsageError(problem);
  return std::nullopt;
}

// A run refused before its batch: why, and the counts of nothing (a usage
// error leaves --summary-json FILE as the run's start left it).
int Refuse(const SummaryJson& summaryJson, const BatchSummary& summary, const std::string& why,
           int status) {
  std::fprintf(stderr, "glimmora batch: %s\n", why.c_str());
  std::string reason;
  if (summaryJson.Given() && status != kExitUsage) summaryJson.Write(summary, "failed", &reason);
  return status;
}

// The workstations' registries: over the network with the credentials, or
// the exports of --offline DIR. Null with *problem, a usage error.
std::unique_ptr<RegistryAccess> OpenRegistry(BatchCommandLine& command, std::string* problem) {
  const std::string& offlineDir = command.options.offlineDir;
  if (offlineDir.empty()) {
    if (!ResolveNetworkCredentials(command.line.credentials, &command.network, problem))
      return nullptr;
    command.network.readsPresence = command.line.report.layout.NeedsPresence();
    return CreateNetworkRegistry(command.network);
  }
  // Otherwise every workstation would get a line saying its export is missing.
  std::error_code error;
  if (!std::filesystem::is_directory(offlineDir, error)) {
    *problem = offlineDir + ": not a directory";
    return nullptr;
  }
  return std::make_unique<OfflineRegistry>(offlineDir);
}

// Every examination under way holds files open; beyond what the process may
// open, they would fail for want of them, which is no workstation's fault.
// The jobs that fit, said when fewer than asked; 0 with *problem when none.
int JobsWithinLimit(int jobs, std::string* problem) {
  unsigned long long fileLimit = 0;
  const int jobsAllowed = JobsWithinFileLimit(jobs, kFilesPerJob, &fileLimit);
  if (jobsAllowed < 1) {
    *problem = "the process may have only " + std::to_string(fileLimit) +
               " files open at once (ulimit -n): too few to examine a workstation";
    return 0;
  }
  if (jobsAllowed < jobs)
    std::fprintf(stderr,
                 "glimmora batch: --jobs %d lowered to %d: the process may have only %llu files "
                 "open at once (ulimit -n)\n",
                 jobs, jobsAllowed, fileLimit);
  return jobsAllowed;
}

// What every plan's run examines with: the registry, the probe, the layout,
// the jobs and the limit on one workstation.
BatchServices ExaminationServices(const BatchCommandLine& command, RegistryAccess& registry,
                                  int jobs, ServiceStarter* starter, const MakerNames& makers) {
  BatchServices services = PlatformBatchServices();
  services.layout = command.line.report.layout;
  services.layout.makers = &makers;
  services.registry = &registry;
  services.jobs = jobs;
  services.workstationTimeout = command.options.timeout;
  services.serviceStarter = starter;
  if (command.options.offlineDir.empty()) {
    // Without the echo service every workstation is still tried through its registry.
    if (LoadIcmpLibrary() != 0)
      std::fprintf(stderr, "glimmora batch: %s\n", LoadText(kTextIcmpLoadError).c_str());
    services.probe = [](const std::string& name, std::string& text, const Deadline& deadline) {
      return PingHost(name, text, deadline);
    };
  }
  return services;
}

std::optional<BatchPlan> ChoosePlan(const BatchCommandLine& command, const ResultFormat& readBack,
                                    PlanRefusal* refusal) {
  const BatchOptions& options = command.options;
  const ReportOptions& report = command.line.report;
  const PlanRequest request{command.inputPath,
                            command.outputPath,
                            report.layout,
                            report.pnpIdsPath.value_or(DefaultPnpIdsPath()),
                            &readBack,
                            options.encoding,
                            options.encodingGiven,
                            options.merge};
  if (!options.retryFrom.empty()) return PlanRetriedRun(request, refusal);
  if (options.resume) return PlanResumedRun(request, refusal);
  return PlanFreshRun(request, refusal);
}

// The batch's end with what the plan leaves to do after it: the merged
// OUTPUT written, the record of a whole run removed.
BatchEnd EndBatch(const BatchCommandLine& command, const BatchState& state, BatchPlan& plan,
                  const BatchSummary& summary) {
  BatchEnd end = ReportBatchEnd(state);
  std::string problem;
  // What a stopped retry brought back is merged too: OLD's lines stay for the rest.
  if (plan.merge && state.failed == 0 &&
      !plan.retry->WriteMerged(state.outputPath, plan.encoding, &problem)) {
    std::fprintf(stderr, "glimmora batch: %s\n", problem.c_str());
    end = {state.outputPath == kStandardStream ? kExitOutputError : kExitFileFailure, "failed"};
  }
  if (end.status == 0) {
    std::fprintf(stderr, "%s\n", LoadText(kTextBatchFinished).c_str());
    if (command.options.strictExit && summary.Failed() > 0) end.status = kExitFinishedWithFailures;
    // The run is whole: nothing is left to resume.
    if (plan.record) std::remove(RunRecordPath(state.outputPath).c_str());
  }
  return end;
}

// What is said after the batch's end: logons given up, the counts; the exit status.
int ReportAfterBatch(const BatchCommandLine& command, const BatchState& state, BatchEnd end,
                     RegistryAccess& registry, const BatchSummary& summary,
                     const SummaryJson& summaryJson) {
  int status = end.status;
  std::string account;
  if (registry.LogonsStopped(&account)) {
    std::fprintf(stderr,
                 "glimmora batch: stopped logging on as %s after %d logon failures in a row, so "
                 "that the account is not locked out; the workstations after them were not "
                 "tried. Check the credentials and run again.\n",
                 account.c_str(), command.network.maxLogonFailures);
    if (status == 0 || status == kExitFinishedWithFailures) status = kExitLogonsStopped;
  }
  // Opt-in: scripts may read what a batch has always said at its end.
  if (command.options.summaryShown && (state.failed == 0 || summary.examined > 0))
    std::fputs(SummaryText(summary).c_str(), stderr);
  std::string reason;
  if (summaryJson.Given() && !summaryJson.Write(summary, end.outcome, &reason)) {
    const bool toStdout = summaryJson.Path() == kStandardStream;
    std::fprintf(stderr, "glimmora batch: %s %s: %s\n", LoadText(kTextOutputWriteError).c_str(),
                 toStdout ? "standard output" : summaryJson.Path().c_str(), reason.c_str());
    if (status == 0 || status == kExitFinishedWithFailures)
      status = toStdout ? kExitOutputError : kExitFileFailure;
  }
  return status;
}

}  // namespace

int RunBatchCommand(const Arguments& arguments) {
  BatchCommandLine command;
  if (const std::optional<int> status = ReadCommandLine(arguments, &command)) return *status;
  const BatchOptions& options = command.options;
  const SummaryJson summaryJson(options.summaryJsonPath);
  summaryJson.Begin();
  BatchSummary summary;
  std::string problem;

  const std::unique_ptr<RegistryAccess> registry = OpenRegistry(command, &problem);
  if (!registry) return Refuse(summaryJson, summary, problem, kExitUsage);
  const int jobs = JobsWithinLimit(options.jobs, &problem);
  if (jobs < 1) return Refuse(summaryJson, summary, problem, kExitFileFailure);
  ServiceStartSession serviceSession;
  const std::string defaultJournal = command.outputPath == kStandardStream
                                         ? DefaultServiceJournal()
                                         : command.outputPath + ".glimmora-services";
  if (!serviceSession.Begin(options.service, *registry, defaultJournal, "batch", &problem))
    return Refuse(summaryJson, summary, problem,
                  registry->ServiceManager() == nullptr ? kExitUsage : kExitFileFailure);
  summary.servicesAsked = options.service.startService;
  MakerNames makers;
  LoadMakerNames(command.line.report, &makers, "batch");
  BatchServices services =
      ExaminationServices(command, *registry, jobs, serviceSession.Starter(), makers);

  // How this run's lines read back, for --resume and --retry-from.
  const std::unique_ptr<ResultFormat> readBack = ResultFormatFor(command.line.report.layout);
  PlanRefusal refusal;
  std::optional<BatchPlan> plan = ChoosePlan(command, *readBack, &refusal);
  if (!plan)
    return Refuse(summaryJson, summary, refusal.why,
                  refusal.commandLine ? kExitUsage : kExitFileFailure);
  // The counts start from what a resumed OUTPUT already holds.
  summary = plan->startCounts;
  summary.servicesAsked = options.service.startService;
  ApplyBatchPlan(*plan, &services);
  ConsoleObserver observer(&summary, plan->merge ? plan->retry.get() : nullptr);
  services.observer = &observer;

  BatchState state;
  state.inputPath = command.inputPath;
  state.outputPath = command.outputPath;
  summary.elapsed = RunShowingProgress(state, services, observer, options.timeout);
  const BatchEnd end = EndBatch(command, state, *plan, summary);
  return ReportAfterBatch(command, state, end, *registry, summary, summaryJson);
}

}  // namespace glimmora::cli
