#pragma once
// Starting a workstation's Remote Registry service for one read, and putting
// it back as it was. Client editions of Windows keep the service disabled (a
// disabled service ignores the trigger of its pipe), so its registry cannot
// be opened until it runs. The start changes no more than it must (a
// disabled service is set to manual, then started) and the restore undoes
// exactly that; a service found running is never touched. Each change is
// written to a journal first, so that a program ended in between (a kill, a
// power cut) leaves a record of what to put back.

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "common/deadline.h"
#include "inventory/registry/service_manager.h"

namespace glimmora {

// What a start changed, for its restore.
struct ServiceChange {
  bool enabled = false;  // its start type was disabled and is manual now
  bool started = false;  // it was stopped and has been started
  bool Any() const { return enabled || started; }
};

// How the service fared on a workstation, as the outputs name it.
enum class ServiceHandling {
  kNotNeeded,        // the registry opened without it
  kRunning,          // it was running: nothing was touched
  kStartFailed,      // it could not be started (rights, a refusal); what was changed is back
  kStartedRestored,  // started for the read and put back as it was
  kRestoreFailed,    // started for the read, but not put back: the journal holds it
};

// "", "running", "start-failed", "started-restored", "restore-failed".
std::string_view ServiceHandlingName(ServiceHandling handling);

// Where changes are recorded before they are made. Begin is written (and on
// the disk) before the first change on a workstation; Done after the
// restore. Called from several examinations at once.
class ServiceJournal {
 public:
  virtual ~ServiceJournal() = default;
  // False with *reason when the record could not be written: nothing is changed then.
  virtual bool Begin(const std::string& workstation, const ServiceChange& planned,
                     std::string* reason) = 0;
  virtual bool Done(const std::string& workstation, std::string* reason) = 0;
};

// A start under way on one workstation.
struct ServiceStart {
  ServiceHandling handling = ServiceHandling::kNotNeeded;
  ServiceChange change;
  std::unique_ptr<ServiceHandle> service;
  long code = 0;           // why it failed, with kStartFailed
  std::string text;        // what the failure line adds, with kStartFailed
  bool journaled = false;  // a change is recorded that the restore closes
};

class ServiceStarter {
 public:
  // `restoreTime`: how long a restore may take, whatever became of the
  // examination (a stop request or its deadline does not cut it short).
  ServiceStarter(ServiceManagerAccess& manager, ServiceJournal* journal,
                 std::chrono::milliseconds restoreTime = std::chrono::seconds(60));

  // Starts the Remote Registry service of the workstation unless it runs:
  // kRunning when it does, kStartedRestored (not restored yet) when it runs
  // now, kStartFailed when it could not be made to (anything changed on the
  // way is put back first). Waits for it within the deadline.
  ServiceStart Start(const std::string& workstation, const Deadline& deadline);

  // Puts back what the start changed: stops the service if it was stopped,
  // sets it disabled again if it was. A handle that fails (a dropped
  // connection) is opened anew once. kStartedRestored or kRestoreFailed.
  ServiceHandling Restore(const std::string& workstation, ServiceStart* start);

  // Puts back a change the journal holds for a workstation (restore-services).
  ServiceHandling RestoreRecorded(const std::string& workstation, const ServiceChange& change,
                                  std::string* problem);

 private:
  bool PutBack(ServiceHandle& service, const ServiceChange& change, const Deadline& deadline,
               long* code);
  ServiceHandling PutBackRecorded(const std::string& workstation, const ServiceChange& change,
                                  std::unique_ptr<ServiceHandle> service, std::string* problem);

  ServiceManagerAccess& manager_;
  ServiceJournal* journal_;
  std::chrono::milliseconds restoreTime_;
};

// Polls the service until it is in `wanted` or the deadline passes, every
// tenth of its wait hint (a quarter of a second at least, ten seconds at
// most) while it is pending. 0 when it got there; 1053
// (ERROR_SERVICE_REQUEST_TIMEOUT) when it did not in time, or settled in
// another state.
long WaitForServiceState(ServiceHandle& service, ServiceState wanted, const Deadline& deadline,
                         ServiceStatus* last);

}  // namespace glimmora
