#include "batch/monitor_report.h"

#include <unordered_map>

#include "batch/csv_line.h"
#include "common/ansi_text.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/registry_scan.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

constexpr TextId kExtendedHeaders[] = {
    kTextColumnMaker,        kTextColumnManufacturerCode,  kTextColumnProductCode,
    kTextColumnPresent,      kTextColumnInventoryModel,    kTextColumnInventorySerial,
    kTextColumnSerialSource, kTextColumnPlaceholderSerial, kTextColumnIdSerial,
    kTextColumnYearKind,     kTextColumnEdidChecksum,
};
constexpr int kPingHostNotFound = 1;

bool IsDenial(long code) {
  // Access denied; the logon failures (bad name or password, account
  // restrictions, logon hours, workstation, expired password, disabled account).
  return code == kErrorAccessDenied || (code >= kErrorLogonFailure && code <= 1331);
}

// Equal keys exactly for rows equal in all ten texts letter case aside: each
// text after its length, so that no text can run into the next.
std::string FoldedKey(const std::string& deviceId, const MonitorRow& row) {
  std::string key = std::to_string(deviceId.size()) + ':' + ToUpperAnsi(deviceId);
  for (const std::string& cell : row) key += std::to_string(cell.size()) + ':' + ToUpperAnsi(cell);
  return key;
}

std::string_view PresenceName(Presence presence) {
  switch (presence) {
    case Presence::kPresent:
      return "yes";
    case Presence::kGhost:
      return "no";
    case Presence::kUnknown:
      break;
  }
  return "unknown";
}

}  // namespace

std::string_view ReasonName(WorkstationReason reason) {
  switch (reason) {
    case WorkstationReason::kUnreachable:
      return "unreachable";
    case WorkstationReason::kNotResolved:
      return "not-resolved";
    case WorkstationReason::kRegistryDenied:
      return "registry-denied";
    case WorkstationReason::kRegistryUnreachable:
      return "registry-unreachable";
    case WorkstationReason::kTimedOut:
      return "timed-out";
    case WorkstationReason::kNoMonitors:
      break;
  }
  return "no-monitors";
}

MonitorExamination ExamineMonitors(RegistryAccess& registry, const MonitorProbe& probe,
                                   const std::string& workstation, const ResultLayout& layout,
                                   const std::function<bool()>& stop) {
  MonitorExamination result;
  if (probe) {
    const int answer = probe(workstation, result.message);
    if (answer > 0) {
      result.reason = answer == kPingHostNotFound ? WorkstationReason::kNotResolved
                                                  : WorkstationReason::kUnreachable;
      return result;
    }
    result.message.clear();
  }
  if (stop()) {
    result.stopped = true;
    return result;
  }
  RegKey rootKey = kNoKey;
  std::vector<std::string> deviceIds;
  long code = 0;
  if (ConnectRemoteRegistry(registry, workstation, &rootKey, &deviceIds, &result.message, &code) !=
      0) {
    result.reason = IsDenial(code) ? WorkstationReason::kRegistryDenied
                                   : WorkstationReason::kRegistryUnreachable;
    return result;
  }
  ScopedRegKey remoteRoot(registry, rootKey);

  ScanOptions options;
  options.readPresence = layout.NeedsPresence();
  std::vector<ReportedMonitor> scanned;
  MonitorTable table;
  for (const std::string& deviceId : deviceIds) {
    if (stop()) {
      result.stopped = true;
      return result;
    }
    if (ScanDisplayMonitors(registry, remoteRoot.get(), deviceId, table, &result.message,
                            options) == kScanConnectionLost) {
      result.reason = WorkstationReason::kRegistryUnreachable;
      return result;
    }
    for (std::size_t i = 0; i < table.RowCount(); ++i)
      scanned.push_back({deviceId, RowAt(table, i), std::move(table.details[i])});
  }
  result.message.clear();
  std::vector<MonitorDetails*> details;
  for (ReportedMonitor& monitor : scanned) details.push_back(&monitor.details);
  SettlePresence(registry, details);

  std::unordered_map<std::string, std::size_t> reported;  // folded key -> index in monitors
  for (ReportedMonitor& monitor : scanned) {
    if (layout.presentOnly && monitor.details.presence == Presence::kGhost) continue;
    if (!IsReportableRow(monitor.row)) continue;
    const auto [kept, added] =
        reported.emplace(FoldedKey(monitor.deviceId, monitor.row), result.monitors.size());
    if (added) {
      result.monitors.push_back(std::move(monitor));
    } else if (monitor.details.presence == Presence::kPresent) {
      result.monitors[kept->second].details.presence = Presence::kPresent;
    }
  }
  if (result.monitors.empty()) {
    result.reason = WorkstationReason::kNoMonitors;
    result.message = workstation + LoadText(kTextNoMonitorInformation);
  }
  return result;
}

std::vector<std::string> ExtendedCells(const ReportedMonitor& monitor, const MakerNames& makers) {
  const std::string unknown(kUnknown);
  const std::string presence(PresenceName(monitor.details.presence));
  if (!monitor.details.edid || !monitor.details.edid->baseComplete) {
    const std::string checksum = monitor.details.edid ? "invalid" : unknown;
    return {unknown, unknown, unknown, presence, unknown, unknown,
            "none",  "no",    unknown, unknown,  checksum};
  }
  const EdidFacts& facts = *monitor.details.edid;
  const InventoryIdentity identity = ChooseInventoryIdentity(facts);
  return {makers.NameFor(facts.manufacturerCode),
          facts.manufacturerCode,
          ProductCodeText(facts.productCode),
          presence,
          identity.model.empty() ? unknown : identity.model,
          identity.serial.empty() ? unknown : identity.serial,
          std::string(SerialSourceName(identity.serialSource)),
          identity.placeholderSerial ? "yes" : "no",
          std::to_string(facts.idSerialNumber),
          facts.yearKind == YearKind::kModel ? "model" : "manufacture",
          facts.checksumValid ? "valid" : "invalid"};
}

std::vector<std::string> ExtendedHeaderTexts() {
  std::vector<std::string> texts;
  for (const TextId id : kExtendedHeaders) texts.push_back(LoadText(id));
  return texts;
}

std::string FormatExtendedHeaderLine() {
  std::vector<std::string> fields;
  for (const TextId id :
       {kTextColumnWorkstationName, kTextColumnMonitorId, kTextColumnClass, kTextColumnDescription,
        kTextColumnMfg, kTextColumnHardwareId, kTextColumnModel, kTextColumnSerialNumber,
        kTextColumnMonitorSize, kTextColumnMfgDate, kTextColumnEdidVersion})
    fields.push_back(LoadText(id));
  for (std::string& text : ExtendedHeaderTexts()) fields.push_back(std::move(text));
  fields.push_back(LoadText(kTextColumnNote));
  return CsvLine(fields);
}

std::string FormatExtendedMonitorLine(std::string_view workstation, const ReportedMonitor& monitor,
                                      const MakerNames& makers) {
  std::vector<std::string> fields = {std::string(workstation), monitor.deviceId};
  fields.insert(fields.end(), monitor.row.begin(), monitor.row.end());
  for (std::string& cell : ExtendedCells(monitor, makers)) fields.push_back(std::move(cell));
  return CsvLine(fields);
}

std::string FormatExtendedNoteLine(std::string_view workstation, std::string_view note) {
  std::vector<std::string> fields(1 + 10 + std::size(kExtendedHeaders) + 1);
  fields.front() = workstation;
  fields.back() = note;
  return CsvLine(fields);
}

}  // namespace glimmora
