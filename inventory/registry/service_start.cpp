#include "inventory/registry/service_start.h"

#include <algorithm>
#include <thread>

#include "inventory/registry/registry_access.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

constexpr long kErrorServiceRequestTimeout = 1053;
constexpr long kErrorServiceAlreadyRunning = 1056;
constexpr long kErrorServiceNotActive = 1062;
constexpr std::chrono::milliseconds kShortestPoll{250};
constexpr std::chrono::milliseconds kLongestPoll{10000};

bool IsPending(ServiceState state) {
  return state == ServiceState::kStartPending || state == ServiceState::kStopPending ||
         state == ServiceState::kContinuePending || state == ServiceState::kPausePending;
}

// Sleeps for `interval`, or until the deadline or a stop request.
void PollPause(const Deadline& deadline, std::chrono::milliseconds interval) {
  const auto until = DeadlineClock::now() + interval;
  while (!deadline.Passed() && DeadlineClock::now() < until)
    std::this_thread::sleep_for(std::min(
        kDeadlineStopPoll,
        std::chrono::duration_cast<std::chrono::milliseconds>(until - DeadlineClock::now())));
}

}  // namespace

std::string_view ServiceHandlingName(ServiceHandling handling) {
  switch (handling) {
    case ServiceHandling::kNotNeeded:
      return "";
    case ServiceHandling::kRunning:
      return "running";
    case ServiceHandling::kStartFailed:
      return "start-failed";
    case ServiceHandling::kStartedRestored:
      return "started-restored";
    case ServiceHandling::kRestoreFailed:
      return "restore-failed";
  }
  return "";
}

long WaitForServiceState(ServiceHandle& service, ServiceState wanted, const Deadline& deadline,
                         ServiceStatus* last) {
  for (;;) {
    if (const long code = service.QueryStatus(last, deadline); code != kErrorSuccess) return code;
    if (last->state == wanted) return kErrorSuccess;
    // Settled elsewhere (a start that failed comes back stopped): waiting longer changes nothing.
    if (!IsPending(last->state) || deadline.Passed()) return kErrorServiceRequestTimeout;
    const std::chrono::milliseconds interval =
        std::clamp(std::chrono::milliseconds(last->waitHintMs / 10), kShortestPoll, kLongestPoll);
    PollPause(deadline, interval);
  }
}

ServiceStarter::ServiceStarter(ServiceManagerAccess& manager, ServiceJournal* journal,
                               std::chrono::milliseconds restoreTime)
    : manager_(manager), journal_(journal), restoreTime_(restoreTime) {}

ServiceStart ServiceStarter::Start(const std::string& workstation, const Deadline& deadline) {
  ServiceStart start;
  const auto failed = [&](long code, std::string text) {
    start.handling = ServiceHandling::kStartFailed;
    start.code = code;
    start.text = std::move(text);
    return std::move(start);
  };
  long code = kErrorSuccess;
  start.service = manager_.OpenServiceHandle(workstation, kRemoteRegistryService, deadline, &code);
  if (!start.service) return failed(code, LoadText(kTextServiceManagerNotOpened));
  ServiceStatus status;
  if ((code = start.service->QueryStatus(&status, deadline)) != kErrorSuccess)
    return failed(code, LoadText(kTextServiceStateNotRead));
  // One that starts or stops by itself meanwhile is let be: what it comes to
  // is not this program's to put back.
  if (status.state != ServiceState::kStopped) {
    start.handling = ServiceHandling::kRunning;
    start.service.reset();
    return start;
  }
  ServiceStartType startType = ServiceStartType::kManual;
  if ((code = start.service->QueryStartType(&startType, deadline)) != kErrorSuccess)
    return failed(code, LoadText(kTextServiceStartTypeNotRead));

  ServiceChange planned;
  planned.enabled = startType == ServiceStartType::kDisabled;
  planned.started = true;
  std::string reason;
  if (journal_ != nullptr && !journal_->Begin(workstation, planned, &reason))
    return failed(kErrorSuccess, LoadText(kTextServiceJournalNotWritten) + ": " + reason);
  start.journaled = true;

  // From here on, whatever was changed is put back before a failure returns.
  const auto undo = [&](long failure, std::string text) {
    if (Restore(workstation, &start) == ServiceHandling::kRestoreFailed)
      text += "; " + LoadText(kTextServiceNotPutBack);
    return failed(failure, std::move(text));
  };
  if (planned.enabled) {
    if ((code = start.service->ChangeStartType(ServiceStartType::kManual, deadline)) !=
        kErrorSuccess)
      return undo(code, LoadText(kTextServiceStartTypeNotChanged));
    start.change.enabled = true;
  }
  code = start.service->Start(deadline);
  // Started by someone else in between: it runs, and stops again with the restore.
  if (code != kErrorSuccess && code != kErrorServiceAlreadyRunning)
    return undo(code, LoadText(kTextServiceNotStarted));
  start.change.started = true;
  if ((code = WaitForServiceState(*start.service, ServiceState::kRunning, deadline, &status)) !=
      kErrorSuccess)
    return undo(code, LoadText(kTextServiceNotRunning));
  start.handling = ServiceHandling::kStartedRestored;
  return start;
}

bool ServiceStarter::PutBack(ServiceHandle& service, const ServiceChange& change,
                             const Deadline& deadline, long* code) {
  if (change.started) {
    ServiceStatus status;
    *code = service.Stop(&status, deadline);
    if (*code == kErrorServiceNotActive) *code = kErrorSuccess;  // stopped already
    if (*code == kErrorSuccess && status.state != ServiceState::kStopped)
      *code = WaitForServiceState(service, ServiceState::kStopped, deadline, &status);
    if (*code != kErrorSuccess) return false;
  }
  if (change.enabled) {
    *code = service.ChangeStartType(ServiceStartType::kDisabled, deadline);
    if (*code != kErrorSuccess) return false;
  }
  return true;
}

ServiceHandling ServiceStarter::Restore(const std::string& workstation, ServiceStart* start) {
  if (!start->journaled && !start->change.Any()) {
    start->service.reset();
    return start->handling;  // nothing was changed, nor recorded
  }
  std::string problem;
  const ServiceHandling restored =
      PutBackRecorded(workstation, start->change, std::move(start->service), &problem);
  start->journaled = false;
  return restored;
}

ServiceHandling ServiceStarter::RestoreRecorded(const std::string& workstation,
                                                const ServiceChange& change, std::string* problem) {
  return PutBackRecorded(workstation, change, nullptr, problem);
}

ServiceHandling ServiceStarter::PutBackRecorded(const std::string& workstation,
                                                const ServiceChange& change,
                                                std::unique_ptr<ServiceHandle> service,
                                                std::string* problem) {
  // Its own time: a stop request or an examination out of time must not
  // leave the workstation changed.
  const Deadline deadline(DeadlineClock::now() + restoreTime_);
  long code = kErrorSuccess;
  bool done = !change.Any();
  // The handle of the start may be on a connection that broke; then a fresh one.
  for (int attempt = 0; attempt < 2 && !done && !deadline.Passed(); ++attempt) {
    if (!service)
      service = manager_.OpenServiceHandle(workstation, kRemoteRegistryService, deadline, &code);
    if (service) done = PutBack(*service, change, deadline, &code);
    service.reset();
  }
  if (!done) {
    *problem = "the service could not be put back (code " + std::to_string(code) + ")";
    return ServiceHandling::kRestoreFailed;
  }
  std::string reason;
  if (journal_ != nullptr && !journal_->Done(workstation, &reason)) {
    *problem = "the service was put back, but the journal could not say so: " + reason;
    return ServiceHandling::kRestoreFailed;
  }
  return ServiceHandling::kStartedRestored;
}

}  // namespace glimmora
