#include "batch/batch_worker.h"

#include <cstdio>
#include <new>
#include <vector>

#include "batch/batch_thread.h"
#include "common/deadline.h"
#include "inventory/registry/examination.h"
#include "resources/texts.h"

namespace glimmora {

void BatchState::SetCurrentWorkstation(std::string name) {
  std::lock_guard<std::mutex> guard(workstationLock_);
  currentWorkstation_ = std::move(name);
}

std::string BatchState::CurrentWorkstation() const {
  std::lock_guard<std::mutex> guard(workstationLock_);
  return currentWorkstation_;
}

void BatchState::BeginWorkstation(std::uint64_t sequence, std::string name) {
  std::lock_guard<std::mutex> guard(workstationLock_);
  inFlight_[sequence] = std::move(name);
}

void BatchState::EndWorkstation(std::uint64_t sequence) {
  std::lock_guard<std::mutex> guard(workstationLock_);
  inFlight_.erase(sequence);
}

std::vector<std::string> BatchState::WorkstationsInFlight() const {
  std::lock_guard<std::mutex> guard(workstationLock_);
  std::vector<std::string> names;
  names.reserve(inFlight_.size());
  for (const auto& [sequence, name] : inFlight_) names.push_back(name);
  return names;
}

BatchServices PlatformBatchServices() {
  BatchServices services;
  services.startThread = StartWorkerThreadServices;
  services.endThread = EndWorkerThreadServices;
  return services;
}

std::string FormatTimedOutNote(std::chrono::milliseconds timeout) {
  // The probe's own time-out text, with the limit where the probe puts the
  // address: no text of its own to translate, and read the same way.
  char limit[48];
  if (timeout.count() % 1000 == 0)
    std::snprintf(limit, sizeof limit, "%lld s", static_cast<long long>(timeout.count() / 1000));
  else
    std::snprintf(limit, sizeof limit, "%.3g s", static_cast<double>(timeout.count()) / 1000);
  return LoadText(kTextRequestTimedOut) + "(" + limit + "))";
}

WorkstationOutcome ExamineIntoLines(const BatchServices& services, const ResultFormat& format,
                                    const std::string& name,
                                    const std::function<bool()>& stopRequested,
                                    std::vector<std::string>* lines, WorkstationResult* result,
                                    ServiceHandling* service) {
  lines->clear();
  WorkstationResult ignored;
  if (result == nullptr) result = &ignored;
  ServiceHandling notAsked;
  if (service == nullptr) service = &notAsked;
  // Under a limit the waits below the examination (lookup, connect, each
  // registry call) end by the deadline, or as soon as a stop is asked for.
  // Without one a stop still ends the examination between its steps.
  const Deadline deadline =
      services.workstationTimeout.count() > 0
          ? Deadline(DeadlineClock::now() + services.workstationTimeout, stopRequested)
          : Deadline::StopOnly(stopRequested);
  ExaminationOptions options = ExaminationOptionsFor(services.layout);
  options.serviceStarter = services.serviceStarter;
  Examination examination =
      ExamineWorkstation(*services.registry, name, services.probe, deadline, options);
  examination.remoteRoot.reset();
  *service = examination.service;
  if (stopRequested()) return WorkstationOutcome::kStopped;
  // Whatever a step cut short by the deadline gave (a lookup given up on, a
  // call that timed out) is not what the workstation holds.
  if (deadline.Passed() || examination.outcome == ExaminationOutcome::kCutShort) {
    *result = WorkstationResult::kTimedOut;
    lines->assign(1, format.ReasonLine(name, WorkstationResult::kTimedOut,
                                       FormatTimedOutNote(services.workstationTimeout), *service));
    return WorkstationOutcome::kFinished;
  }
  *result = ReasonOf(examination).value_or(WorkstationResult::kMonitors);
  if (examination.outcome == ExaminationOutcome::kMonitorsFound) {
    static const MakerNames kNoMakerList;
    const MakerNames& makers =
        services.layout.makers != nullptr ? *services.layout.makers : kNoMakerList;
    lines->reserve(examination.monitors.size());
    for (const ReportedMonitor& monitor : examination.monitors)
      lines->push_back(format.MonitorLine(DescribeMonitor(name, monitor, makers), *service));
  } else {
    // The error text is passed on, not copied: it may hold a name as long as a line of the input.
    if (examination.outcome == ExaminationOutcome::kNoMonitors)
      lines->push_back(
          format.ReasonLine(name, *result, name + LoadText(kTextNoMonitorInformation), *service));
    else
      lines->push_back(format.ReasonLine(name, *result, examination.errorText, *service));
  }
  return WorkstationOutcome::kFinished;
}

void BatchState::ResetReport() {
  failed = 0;
  failureText.clear();
  failureStyle = 0;
  failurePath.clear();
  failureReason.clear();
  linesRead.store(0);
  workstationsRead.store(0);
  workstationsFinished.store(0);
}

void BatchState::ReportFailure(std::string text, std::string path, std::string reason) {
  failureText = std::move(text);
  failurePath = std::move(path);
  failureReason = std::move(reason);
  failureStyle = kFailureStyleError;
  failed = -1;
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
      state.ReportFailure(LoadText(kTextOutOfMemory));
    }
  } else {
    // Without the socket library no workstation can be examined; an earlier
    // batch's outcome must not be shown in place of this one.
    state.ReportFailure(std::move(startFailure));
  }
  if (services.endThread) services.endThread();
  if (services.finishPause.count() > 0) std::this_thread::sleep_for(services.finishPause);
  if (services.observer != nullptr) services.observer->BatchFinished();
}

}  // namespace glimmora
