#include "inventory/registry/examination.h"

#include "inventory/edid/edid_facts.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/registry/registry_scan.h"

namespace glimmora {

namespace {
Examination Ended(ExaminationOutcome outcome, std::string errorText = {}) {
  Examination result;
  result.outcome = outcome;
  result.errorText = std::move(errorText);
  return result;
}

// Whether the EDID gives the inventory model or serial the extended outputs
// show; nothing of a value shorter than the base block is shown.
bool HasInventoryIdentity(const MonitorDetails& details) {
  if (!details.edid) return false;
  const EdidFacts facts = ReadEdidFacts(*details.edid);
  if (!facts.baseComplete) return false;
  const InventoryIdentity identity = ChooseInventoryIdentity(facts);
  auto known = [](const std::string& text) { return !text.empty() && !IsUnknown(text); };
  return known(identity.model) || known(identity.serial);
}
}  // namespace

Examination ExamineWorkstation(RegistryAccess& registry, const std::string& workstation,
                               const ProbeFunction& probe, const Deadline& deadline,
                               const ExaminationOptions& options) {
  std::string text;
  if (probe) {
    if (const int answer = probe(workstation, text, deadline); answer > 0) {
      Examination result = Ended(ExaminationOutcome::kUnreachable, std::move(text));
      result.probeResult = answer;
      return result;
    }
  }
  if (deadline.Passed()) return Ended(ExaminationOutcome::kCutShort);

  RegKey rootKey = kNoKey;
  std::vector<std::string> deviceIds;
  long code = 0;
  if (ConnectRemoteRegistry(registry, workstation, &rootKey, &deviceIds, &text, deadline, &code) !=
      0) {
    Examination result = Ended(ExaminationOutcome::kRegistryError, std::move(text));
    result.registryErrorCode = code;
    return result;
  }
  ScopedRegKey remoteRoot(registry, rootKey);

  ScanOptions scanOptions;
  scanOptions.readPresence = options.readPresence || options.presentOnly;
  // Every row first: whether a missing Control key means a ghost is known
  // only once all of the workstation's instances have been read.
  std::vector<ReportedMonitor> scanned;
  MonitorTable table;
  for (const std::string& deviceId : deviceIds) {
    if (deadline.Passed()) return Ended(ExaminationOutcome::kCutShort);
    // A device key that cannot be opened contributes no row; the scan goes
    // on. A lost connection ends it: the rows gathered may be any part of the
    // workstation's monitors, and none is reported as if it were all of them.
    if (ScanDisplayMonitors(registry, remoteRoot.get(), deviceId, table, &text, scanOptions) ==
        kScanConnectionLost)
      return Ended(ExaminationOutcome::kRegistryError, std::move(text));
    for (std::size_t i = 0; i < table.RowCount(); ++i)
      scanned.push_back({deviceId, RowAt(table, i), std::move(table.details[i])});
  }
  if (deadline.Passed()) return Ended(ExaminationOutcome::kCutShort);
  if (scanOptions.readPresence) SettlePresence(registry, scanned);

  ReportedMonitors reported;
  for (ReportedMonitor& monitor : scanned) {
    if (options.presentOnly && monitor.details.presence == Presence::kGhost) continue;
    // The inventory identity is read only for a row the row rule leaves out.
    if (IsReportableRow(monitor.row) ||
        (options.reportByInventoryIdentity && HasInventoryIdentity(monitor.details)))
      reported.AdmitReportable(monitor.monitorId, monitor.row, std::move(monitor.details));
  }

  Examination result;
  result.monitors = reported.Take();
  result.outcome = result.monitors.empty() ? ExaminationOutcome::kNoMonitors
                                           : ExaminationOutcome::kMonitorsFound;
  result.remoteRoot = std::move(remoteRoot);
  return result;
}

}  // namespace glimmora
