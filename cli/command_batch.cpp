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
#include "cli/batch_options.h"
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
                                                       std::chrono::milliseconds timeout) {
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
  ProgressDisplay progress(state, services.jobs > 1);
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
        progress.Stopping(timeout);
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

}  // namespace

int RunBatchCommand(const Arguments& arguments) {
  WorkstationCommandLine line;
  std::string problem;
  if (!ReadWorkstationCommandLine(arguments, BatchOptionTable(), "jsonl", &line, &problem))
    return UsageError(problem);
  if (line.parsed.help) {
    PrintUsage(stdout);
    return 0;
  }
  const CredentialOptions& credentials = line.credentials;
  const ReportOptions& report = line.report;
  NetworkRegistryOptions networkOptions;
  BatchOptions options;
  if (!ReadBatchOptions(line, &networkOptions, &options, &problem)) return UsageError(problem);
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

  summary.elapsed = RunShowingProgress(state, services, options.timeout);

  BatchEnd end = ReportBatchEnd(state);
  int status = end.status;
  const char* outcome = end.outcome;
  const bool toStandardOutput = state.outputPath == kStandardStream;
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
