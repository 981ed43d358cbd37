#include "batch/batch_worker.h"

#include <filesystem>
#include <new>
#include <unordered_set>
#include <vector>

#include "batch/batch_thread.h"
#include "common/ansi_text.h"
#include "inventory/registry_scan.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

void ReportFailure(BatchState& state, std::string text, std::string path = {}) {
  state.failureText = std::move(text);
  state.failurePath = std::move(path);
  state.failureStyle = kFailureStyleError;
  state.failed = -1;
}

// The lines retained for one workstation, in order, and their case-folded
// forms for the duplicate test: equal folds are exactly the lines that compare
// equal without regard to letter case (only single-byte ASCII letters fold, so
// a line and its fold split into the same characters). Comparing each new line
// with every retained one took minutes for a workstation with thousands of
// monitors.
class RetainedLines {
 public:
  // False, and nothing retained, when an equal line already is.
  bool Retain(std::string line) {
    if (!folded_.insert(ToUpperAnsi(line)).second) return false;
    lines_.push_back(std::move(line));
    return true;
  }
  const std::vector<std::string>& lines() const { return lines_; }

 private:
  std::vector<std::string> lines_;
  std::unordered_set<std::string> folded_;
};

enum class WorkstationOutcome { kDone, kStopped, kWriteFailed };

// One workstation from the probe to its last line. Lines are written only once
// the whole workstation has been examined, so a stop leaves none of it behind.
WorkstationOutcome ExamineWorkstation(BatchState& state, const BatchServices& services,
                                      const std::string& name, OutputStream& output) {
  std::string text;
  if (services.probe && services.probe(name, text) > 0) {
    return WriteOutputLine(output, FormatFailureLine(name, text)) == 0
               ? WorkstationOutcome::kDone
               : WorkstationOutcome::kWriteFailed;
  }

  RegistryAccess& registry = *services.registry;
  RegKey rootKey = kNoKey;
  std::vector<std::string> deviceIds;
  if (ConnectRemoteRegistry(registry, name, &rootKey, &deviceIds, &text) != 0) {
    return WriteOutputLine(output, FormatFailureLine(name, text)) == 0
               ? WorkstationOutcome::kDone
               : WorkstationOutcome::kWriteFailed;
  }

  RetainedLines retained;
  {
    ScopedRegKey remoteRoot(registry, rootKey);
    MonitorTable table;
    for (const std::string& deviceId : deviceIds) {
      if (state.StopRequested()) return WorkstationOutcome::kStopped;
      if (ScanDisplayMonitors(registry, remoteRoot.get(), deviceId, table, &text) ==
          kScanConnectionLost) {
        // The lines gathered may be any part of the workstation's monitors:
        // none is written as if it were all of them.
        return WriteOutputLine(output, FormatFailureLine(name, text)) == 0
                   ? WorkstationOutcome::kDone
                   : WorkstationOutcome::kWriteFailed;
      }
      for (std::size_t i = 0; i < table.RowCount(); ++i) {
        if (state.StopRequested()) return WorkstationOutcome::kStopped;
        const MonitorRow row = RowAt(table, i);
        if (!IsReportableRow(row)) continue;
        std::string line = FormatMonitorLine(name, deviceId, row);
        // Whole lines, letter case aside: the first of equal rows is kept.
        retained.Retain(std::move(line));
      }
    }
  }

  if (retained.lines().empty()) {
    return WriteOutputLine(output, FormatNoMonitorLine(name)) == 0
               ? WorkstationOutcome::kDone
               : WorkstationOutcome::kWriteFailed;
  }
  for (const std::string& line : retained.lines()) {
    if (WriteOutputLine(output, line) != 0) return WorkstationOutcome::kWriteFailed;
  }
  return WorkstationOutcome::kDone;
}

}  // namespace

void BatchState::SetCurrentWorkstation(std::string name) {
  std::lock_guard<std::mutex> guard(workstationLock_);
  currentWorkstation_ = std::move(name);
}

std::string BatchState::CurrentWorkstation() const {
  std::lock_guard<std::mutex> guard(workstationLock_);
  return currentWorkstation_;
}

BatchServices PlatformBatchServices() {
  BatchServices services;
  services.startThread = StartWorkerThreadServices;
  services.endThread = EndWorkerThreadServices;
  return services;
}

void RunBatch(BatchState& state, const BatchServices& services, std::string inputPath,
              std::string outputPath) {
  state.failed = 0;
  state.failureText.clear();
  state.failureStyle = 0;
  state.failurePath.clear();
  state.linesRead.store(0);

  // The input is opened first, so a missing input leaves an existing output untouched.
  std::unique_ptr<InputFile> input = OpenInputFile(inputPath);
  if (!input) {
    ReportFailure(state, LoadText(kTextInputOpenError), inputPath);
    return;
  }
  // Creating the output would empty the very list being read.
  std::error_code ignored;
  if (std::filesystem::equivalent(inputPath, outputPath, ignored)) {
    ReportFailure(state, LoadText(kTextOutputOpenError), outputPath);
    return;
  }
  std::unique_ptr<OutputStream> output = services.openOutputFile(outputPath);
  if (!output) {
    ReportFailure(state, LoadText(kTextOutputOpenError), outputPath);
    return;
  }

  bool writeFailed = WriteHeaderLine(*output) != 0;
  while (!writeFailed && !input->AtEnd()) {
    if (state.StopRequested()) break;
    const std::string name = ExtractWorkstationName(ReadInputLine(*input));
    state.linesRead.fetch_add(1);
    if (name.empty()) continue;
    state.SetCurrentWorkstation(name);
    const WorkstationOutcome outcome = ExamineWorkstation(state, services, name, *output);
    if (outcome == WorkstationOutcome::kStopped) break;
    writeFailed = outcome == WorkstationOutcome::kWriteFailed;
  }

  state.SetCurrentWorkstation({});
  // An input that broke off part-way must not pass for a finished batch.
  const bool inputFailed = input->ReadFailed();
  input.reset();
  // Bytes still buffered can fail to reach the disk only now (a full disk);
  // a result file cut short must not be reported as finished.
  const bool closed = output->Close();
  if (writeFailed || !closed)
    ReportFailure(state, LoadText(kTextOutputWriteError), outputPath);
  else if (inputFailed)
    ReportFailure(state, LoadText(kTextInputOpenError), inputPath);
}

void BatchThreadProc(BatchState& state, const BatchServices& services) {
  std::string startFailure;
  const int started = services.startThread ? services.startThread(&startFailure) : 0;
  if (started == 0) {
    try {
      RunBatch(state, services, state.inputPath, state.outputPath);
    } catch (const std::bad_alloc&) {
      // An input line without end can outgrow memory; the files are closed by now.
      state.SetCurrentWorkstation({});
      ReportFailure(state, LoadText(kTextOutOfMemory));
    }
  } else {
    // Without the socket library no workstation can be examined; an earlier
    // batch's outcome must not be shown in place of this one.
    ReportFailure(state, std::move(startFailure));
  }
  if (services.endThread) services.endThread();
  if (services.finishPause.count() > 0) std::this_thread::sleep_for(services.finishPause);
  if (services.notifyFinished) services.notifyFinished();
}

}  // namespace glimmora
