#include "inventory/registry/examination.h"

#include "inventory/registry/registry_scan.h"

namespace glimmora {

namespace {
Examination Ended(ExaminationOutcome outcome, std::string errorText = {}) {
  Examination result;
  result.outcome = outcome;
  result.errorText = std::move(errorText);
  return result;
}
}  // namespace

Examination ExamineWorkstation(RegistryAccess& registry, const std::string& workstation,
                               const ProbeFunction& probe, const Deadline& deadline) {
  std::string text;
  if (probe && probe(workstation, text, deadline) > 0)
    return Ended(ExaminationOutcome::kUnreachable, std::move(text));
  if (deadline.Passed()) return Ended(ExaminationOutcome::kCutShort);

  RegKey rootKey = kNoKey;
  std::vector<std::string> deviceIds;
  if (ConnectRemoteRegistry(registry, workstation, &rootKey, &deviceIds, &text, deadline) != 0)
    return Ended(ExaminationOutcome::kRegistryError, std::move(text));
  ScopedRegKey remoteRoot(registry, rootKey);

  ReportedMonitors reported;
  MonitorTable table;
  for (const std::string& deviceId : deviceIds) {
    if (deadline.Passed()) return Ended(ExaminationOutcome::kCutShort);
    // A device key that cannot be opened contributes no row; the scan goes
    // on. A lost connection ends it: the rows gathered may be any part of the
    // workstation's monitors, and none is reported as if it were all of them.
    if (ScanDisplayMonitors(registry, remoteRoot.get(), deviceId, table, &text) ==
        kScanConnectionLost)
      return Ended(ExaminationOutcome::kRegistryError, std::move(text));
    for (std::size_t i = 0; i < table.RowCount(); ++i) reported.Admit(deviceId, RowAt(table, i));
  }
  if (deadline.Passed()) return Ended(ExaminationOutcome::kCutShort);

  Examination result;
  result.monitors = reported.Take();
  result.outcome = result.monitors.empty() ? ExaminationOutcome::kNoMonitors
                                           : ExaminationOutcome::kMonitorsFound;
  result.remoteRoot = std::move(remoteRoot);
  return result;
}

}  // namespace glimmora
