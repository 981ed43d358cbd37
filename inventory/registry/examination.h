#pragma once
// The examination of one workstation, as every front end makes it: the
// reachability probe, the connect to its registry, the scan of each display
// device identifier, and the rows the row rules report. Quick Check,
// `glimmora check` and both kinds of batch call it and show or write the
// value it returns, each in its own way.

#include <functional>
#include <string>
#include <vector>

#include "common/deadline.h"
#include "inventory/monitor_table.h"
#include "inventory/registry/registry_access.h"
#include "inventory/registry/service_start.h"

namespace glimmora {

// Does the workstation answer? Above 0 it is unreachable and resultText says
// why; 0 or below the examination goes on to the registry. The probe keeps
// its waits within the deadline.
using ProbeFunction = std::function<int(const std::string& workstation, std::string& resultText,
                                        const Deadline& deadline)>;

enum class ExaminationOutcome {
  kUnreachable,    // the probe's text is the error text
  kRegistryError,  // the registry could not be opened, or its connection broke during the scan
  kNoMonitors,     // the registry was read and no row is reported
  kMonitorsFound,
  kCutShort,  // the deadline passed or the stop came first: what was read is not the workstation's
};

struct Examination {
  ExaminationOutcome outcome = ExaminationOutcome::kCutShort;
  std::vector<ReportedMonitor> monitors;  // in reading order; only with kMonitorsFound
  std::string errorText;                  // with kUnreachable and kRegistryError
  int probeResult = 0;         // the probe's answer with kUnreachable (1: name not found)
  long registryErrorCode = 0;  // the failed call's code with kRegistryError
  // With kNoMonitors and kMonitorsFound, the workstation's open HKEY_LOCAL_MACHINE,
  // closed when the value goes: a front end may show its message first. Closed
  // already when the service was started for the read (it is stopped again).
  ScopedRegKey remoteRoot;
  // Whether the Remote Registry service had to be started, and was put back.
  ServiceHandling service = ServiceHandling::kNotNeeded;
};

// What an examination reads beyond the specified rows; the default reads
// nothing more.
struct ExaminationOptions {
  // Open each instance's volatile "Control" key to tell present monitors from
  // ghosts: one more call per instance, so only for an output that shows it.
  bool readPresence = false;
  // Leave ghosts out before the row rules, which then apply to what remains
  // (implies readPresence).
  bool presentOnly = false;
  // Report also a row with neither model nor serial number when its EDID
  // gives an inventory model or serial (inventory_identity.h): a monitor
  // whose last name descriptor is blank still names itself in an earlier one.
  // Only for an output that shows those; elsewhere the row would read as nameless.
  bool reportByInventoryIdentity = false;
  // When the registry cannot be opened because its service does not run:
  // start it through this for the read and put it back after. Null: never.
  ServiceStarter* serviceStarter = nullptr;
};

// Examines the workstation (a name as given: the caller trims it). Without a
// probe every workstation goes to the registry. The deadline bounds every
// wait below (lookup, connect, each registry call) and is looked at between
// the steps, device identifiers and rows; without one the examination runs
// to its end.
Examination ExamineWorkstation(RegistryAccess& registry, const std::string& workstation,
                               const ProbeFunction& probe, const Deadline& deadline = Deadline(),
                               const ExaminationOptions& options = {});

}  // namespace glimmora
