#pragma once
// The batch worker: examines every workstation of the input file, one after the
// other on a thread of its own (or, from the command line, several at once),
// and writes the result file. It shares one record, BatchState, with whoever
// started it (the Batch page, the command line) and reaches them only through
// the observer it is given (BatchObserver).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "batch/input_list.h"
#include "batch/output_file.h"
#include "batch/result_format.h"
#include "inventory/registry/examination.h"

namespace glimmora {

// The style of a failure report, as a message box takes it (MB_ICONERROR).
inline constexpr std::uint32_t kFailureStyleError = 16;

class BatchState {
 public:
  // Written and read by the Batch page only; the worker never looks at them.
  std::uintptr_t timerId = 0;
  std::int32_t running = 0;
  std::thread workerThread;

  // The failure report: written by the worker, read once it has ended.
  std::int32_t failed = 0;  // 0, or -1 when the batch stopped on a failure
  std::uint32_t failureStyle = 0;
  std::string failureText;
  // The file the failure concerns, and the system's reason, for a front end
  // that names them (the command line; the page shows the text alone).
  std::string failurePath;
  std::string failureReason;
  // Empties the failure report and the progress counts, for a batch to begin.
  void ResetReport();
  // Fills the failure report; the style and flag say it is an error.
  void ReportFailure(std::string text, std::string path = {}, std::string reason = {});

  // Set by the page before the worker starts; the worker takes copies.
  std::string inputPath;
  std::string outputPath;

  // 1 when the user asked the batch to stop; the worker looks at it between
  // workstations, device identifiers and rows.
  std::atomic<std::int32_t> stopRequested{0};
  // Lines of the input read so far, for a progress display.
  std::atomic<std::uint64_t> linesRead{0};
  // Workstations named so far, and those whose examination has ended, in
  // whatever order (several at once: see BatchServices::jobs).
  std::atomic<std::uint64_t> workstationsRead{0};
  std::atomic<std::uint64_t> workstationsFinished{0};

  void RequestStop() { stopRequested.store(1); }
  bool StopRequested() const { return stopRequested.load() == 1; }

  // The workstation being examined, empty when none. Read by the page's timer
  // while the worker writes it, hence the lock.
  void SetCurrentWorkstation(std::string name);
  std::string CurrentWorkstation() const;

  // The workstations under examination when several are examined at once,
  // by their place in the input (0 for the first name).
  void BeginWorkstation(std::uint64_t sequence, std::string name);
  void EndWorkstation(std::uint64_t sequence);
  // Their names in input order, the one that holds up the output first.
  std::vector<std::string> WorkstationsInFlight() const;

 private:
  mutable std::mutex workstationLock_;
  std::string currentWorkstation_;
  std::map<std::uint64_t, std::string> inFlight_;
};

// One workstation's lines as the batch wrote them, in input order.
struct WrittenWorkstation {
  const std::string& name;
  const std::vector<std::string>& lines;
  WorkstationResult result;
  ServiceHandling service;
  std::chrono::steady_clock::duration took;  // its examination
};

// What a running batch tells whoever started it: the command line and the
// Batch page each implement it. The calls come from the batch's threads,
// never from the caller's.
class BatchObserver {
 public:
  // On the thread that writes, once a workstation's lines are written.
  virtual void WorkstationWritten(const WrittenWorkstation&) {}
  // Once, when the worker thread has ended its batch and paused
  // (BatchThreadProc): the state's report is complete.
  virtual void BatchFinished() = 0;

 protected:
  ~BatchObserver() = default;
};

// What the worker works with. Production: PingHost, the platform's registry,
// the real files and the platform's thread start; tests put fakes in.
struct BatchServices {
  ProbeFunction probe;  // empty: no probe, every workstation goes to the registry
  RegistryAccess* registry = nullptr;
  // Null when the list cannot be read; *reason may say why.
  std::function<std::unique_ptr<InputFile>(const std::string& path, std::string* reason)>
      openInputFile = OpenInputFile;
  // Null when the file cannot be opened; *reason may say why.
  std::function<std::unique_ptr<OutputStream>(const std::string& path, std::string* reason)>
      openOutputFile = OpenOutputFile;
  // Going on with an earlier run's output: openOutputFile gives the file
  // positioned after what stays of it, the header is not written again when
  // it is there, and the input's first workstationsDone workstations, whose
  // lines it holds, are not examined again.
  bool writeHeader = true;
  std::uint64_t workstationsDone = 0;
  // When set, the workstations examined instead of the input's names: the
  // input file is not opened.
  std::shared_ptr<const std::vector<std::string>> workstationList;
  // The worker thread's own start of what the probe needs (COM and the socket
  // library on Windows): 0, or non-zero with the text to report. The end is
  // called whatever the start gave.
  std::function<int(std::string* failureText)> startThread;
  std::function<void()> endThread;
  // Lets a progress display show the emptied workstation before the end is announced.
  std::chrono::milliseconds finishPause{1000};
  // Told of each workstation written and of the end; none: nobody listens.
  BatchObserver* observer = nullptr;

  // Workstations examined at once. 1 (the Batch page): one after the other.
  // More: the same output file, written in input order (RunBatch);
  // the probe and the registry are then called from several threads at once,
  // which PingHost and every back end here allow.
  int jobs = 1;
  // Longest examination of one workstation; beyond it the workstation gets a
  // failure line saying it timed out, and the batch goes on. Zero: no limit.
  // Under a limit a stop request also ends the waits of the workstation under
  // examination (a registry connect that hangs among them).
  std::chrono::milliseconds workstationTimeout{0};

  // The lines' layout: by default the specified CSV file; glimmora batch can
  // ask for extended columns, JSON lines, or ghosts left out.
  ReportLayout layout;

  // With --start-service: the Remote Registry service of a workstation whose
  // registry does not open is started for the read and put back; null: never.
  ServiceStarter* serviceStarter = nullptr;
};

// The limit on one workstation that a batch has unless told otherwise (the
// command line's --timeout, the Batch page).
inline constexpr std::chrono::milliseconds kDefaultWorkstationTimeout{60000};

// What became of one workstation's examination.
enum class WorkstationOutcome {
  kFinished,  // its lines are complete
  kStopped,   // a stop came first; it has no lines
};

// Examines one workstation (ExamineWorkstation) into its result lines in
// `format`: monitor lines, or its one failure or no-monitor line. A stop ends
// it between steps and device identifiers with no lines; under a
// workstation time-out, a workstation not finished by then gets the
// timed-out failure line. Every key it opened is closed again.
WorkstationOutcome ExamineIntoLines(const BatchServices& services, const ResultFormat& format,
                                    const std::string& name,
                                    const std::function<bool()>& stopRequested,
                                    std::vector<std::string>* lines,
                                    WorkstationResult* result = nullptr,
                                    ServiceHandling* service = nullptr);

// The note of a workstation that exceeded the time-out: the probe's time-out
// text with the limit, "(Error: Request timed out (60 s))" in English.
std::string FormatTimedOutNote(std::chrono::milliseconds timeout);

// Services with the platform's thread start and end filled in; the caller adds
// the probe, the registry and the notification.
BatchServices PlatformBatchServices();

// Runs one batch with up to services.jobs workstations examined at once (one:
// one after the other, on the calling thread); everything it has to report
// goes into the state's failure report and the output file. The output file
// is byte for byte the same whatever the number of jobs. A stop keeps the
// lines of the finished workstations up to the first unfinished one in input
// order, so that the file is always a beginning of the complete one. A write
// failure ends the batch at once: nothing is written after it.
void RunBatch(BatchState& state, const BatchServices& services, std::string inputPath,
              std::string outputPath);

// The body of the worker thread: starts the thread's services, runs the batch
// with the state's file names, pauses, and notifies the end.
void BatchThreadProc(BatchState& state, const BatchServices& services);

}  // namespace glimmora
