#include "inventory/registry/examination.h"

#include "inventory/edid/edid_facts.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/registry/registry_scan.h"
#include "resources/texts.h"

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
  if (!details.facts || !details.facts->baseComplete) return false;
  const InventoryIdentity identity = ChooseInventoryIdentity(*details.facts);
  auto known = [](const std::string& text) { return !text.empty() && !IsUnknown(text); };
  return known(identity.model) || known(identity.serial);
}
}  // namespace

namespace {

// The registry of a connected workstation read: its rows by the row rules.
Examination ReadRegistry(RegistryAccess& registry, RegKey rootKey,
                         const std::vector<std::string>& deviceIds, const Deadline& deadline,
                         const ExaminationOptions& options) {
  ScopedRegKey remoteRoot(registry, rootKey);
  std::string text;
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

Examination RegistryFailure(std::string text, long code) {
  Examination result = Ended(ExaminationOutcome::kRegistryError, std::move(text));
  result.registryErrorCode = code;
  return result;
}

// A hint added to a failure's text, in the user's language.
std::string WithHint(std::string text, const std::string& hint) {
  if (!text.empty()) text += ' ';
  return text + hint;
}

// A text of the table with the reason in the place of its %s.
std::string TextWithReason(int id, const std::string& reason) {
  std::string text = LoadText(id);
  if (const std::size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, reason);
  return text;
}

// The registry would not open for want of its service: started for the read,
// then put back whatever became of the read.
Examination ReadWithServiceStarted(RegistryAccess& registry, const std::string& workstation,
                                   std::string text, long code, const Deadline& deadline,
                                   const ExaminationOptions& options) {
  ServiceStarter& starter = *options.serviceStarter;
  ServiceStart start = starter.Start(workstation, deadline);
  if (start.handling == ServiceHandling::kRunning) {
    Examination result = RegistryFailure(std::move(text), code);
    result.service = ServiceHandling::kRunning;
    return result;
  }
  if (start.handling == ServiceHandling::kStartFailed) {
    // A journal that could not be written has no system code to show.
    std::string why = start.code != 0 ? registry.SystemMessageText(start.code) : std::string();
    if (!start.text.empty()) why = start.text + (why.empty() ? "" : ": " + why);
    Examination result = RegistryFailure(
        WithHint(std::move(text), TextWithReason(kTextHintServiceNotStarted, why)), code);
    result.service = ServiceHandling::kStartFailed;
    return result;
  }
  Examination result;
  RegKey rootKey = kNoKey;
  std::vector<std::string> deviceIds;
  text.clear();
  if (deadline.Passed()) {
    result = Ended(ExaminationOutcome::kCutShort);
  } else if (ConnectRemoteRegistry(registry, workstation, &rootKey, &deviceIds, &text, deadline,
                                   &code) != 0) {
    result = RegistryFailure(std::move(text), code);
  } else {
    result = ReadRegistry(registry, rootKey, deviceIds, deadline, options);
  }
  // Closed before the service stops under it.
  result.remoteRoot.reset();
  result.service = starter.Restore(workstation, &start);
  if (result.service == ServiceHandling::kRestoreFailed && !result.errorText.empty())
    result.errorText = WithHint(std::move(result.errorText), LoadText(kTextHintServiceNotRestored));
  return result;
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
    // The registry's pipe is not there: its service does not run.
    if (options.serviceStarter != nullptr && code == kErrorBadNetPath && !deadline.Passed())
      return ReadWithServiceStarted(registry, workstation, std::move(text), code, deadline,
                                    options);
    return RegistryFailure(std::move(text), code);
  }
  return ReadRegistry(registry, rootKey, deviceIds, deadline, options);
}

}  // namespace glimmora
