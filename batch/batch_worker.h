#pragma once
// The batch worker: examines every workstation of the input file, one after the
// other, on a thread of its own, and writes the result file. It shares one
// record, BatchState, with whoever started it (the Batch page, the command
// line) and reaches them only through the completion notification it is given.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "batch/batch_files.h"
#include "inventory/registry_access.h"

namespace glimmora {

// The private message by which the worker announces its end to the Batch page
// (WM_USER + 2); both parameters are 0.
inline constexpr unsigned kWmBatchFinished = 0x0400 + 2;
// Message-box style of a failure report (MB_ICONERROR).
inline constexpr std::uint32_t kFailureStyleError = 16;

class BatchState {
 public:
  // Written and read by the page only.
  std::uintptr_t timerId = 0;
  std::int32_t running = 0;
  std::thread workerThread;

  // The failure report: written by the worker, read once it has ended.
  std::int32_t failed = 0;  // 0, or -1 when the batch stopped on a failure
  std::uint32_t failureStyle = 0;
  std::string failureText;
  // The file the failure concerns, for a front end that names it.
  std::string failurePath;

  // Set by the page before the worker starts; the worker takes copies.
  std::string inputPath;
  std::string outputPath;

  // 1 when the user asked the batch to stop; the worker looks at it between
  // workstations, device identifiers and rows.
  std::atomic<std::int32_t> stopRequested{0};
  // Lines of the input read so far, for a progress display.
  std::atomic<std::uint64_t> linesRead{0};

  void RequestStop() { stopRequested.store(1); }
  bool StopRequested() const { return stopRequested.load() == 1; }

  // The workstation being examined, empty when none. Read by the page's timer
  // while the worker writes it, hence the lock.
  void SetCurrentWorkstation(std::string name);
  std::string CurrentWorkstation() const;

 private:
  mutable std::mutex workstationLock_;
  std::string currentWorkstation_;
};

// PingHost's contract: above 0 the workstation is unreachable and resultText
// says why; 0 or below the batch goes on to the registry.
using ProbeFunction = std::function<int(const std::string& workstation, std::string& resultText)>;

// What the worker works with. Production: PingHost, the platform's registry,
// the real files and the platform's thread start; tests put fakes in.
struct BatchServices {
  ProbeFunction probe;  // empty: no probe, every workstation goes to the registry
  RegistryAccess* registry = nullptr;
  std::function<std::unique_ptr<OutputStream>(const std::string& path)> openOutputFile =
      OpenOutputFile;
  // The worker thread's own start of what the probe needs (COM and the socket
  // library on Windows): 0, or non-zero with the text to report. The end is
  // called whatever the start gave.
  std::function<int(std::string* failureText)> startThread;
  std::function<void()> endThread;
  // Lets a progress display show the emptied workstation before the end is announced.
  std::chrono::milliseconds finishPause{1000};
  // The completion notification: on Windows a posted kWmBatchFinished.
  std::function<void()> notifyFinished;
};

// Services with the platform's thread start and end filled in; the caller adds
// the probe, the registry and the notification.
BatchServices PlatformBatchServices();

// Runs one batch; everything it has to report goes into the state's failure
// report and the output file.
void RunBatch(BatchState& state, const BatchServices& services, std::string inputPath,
              std::string outputPath);

// The body of the worker thread: starts the thread's services, runs the batch
// with the state's file names, pauses, and notifies the end.
void BatchThreadProc(BatchState& state, const BatchServices& services);

}  // namespace glimmora
