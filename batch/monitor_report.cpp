#include "batch/monitor_report.h"

#include "batch/csv_line.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/edid/monitor_key.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

constexpr TextId kExtendedHeaders[] = {
    kTextColumnMaker,        kTextColumnManufacturerCode,  kTextColumnProductCode,
    kTextColumnPresent,      kTextColumnInventoryModel,    kTextColumnInventorySerial,
    kTextColumnSerialSource, kTextColumnPlaceholderSerial, kTextColumnIdSerial,
    kTextColumnYearKind,     kTextColumnEdidChecksum,      kTextColumnMonitorKey,
};
constexpr int kPingHostNotFound = 1;

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

std::string_view ReasonName(WorkstationResult reason) {
  switch (reason) {
    case WorkstationResult::kNoReply:
      return "unreachable";
    case WorkstationResult::kNotFound:
      return "not-resolved";
    case WorkstationResult::kRegistryDenied:
      return "registry-denied";
    case WorkstationResult::kRegistryUnreachable:
      return "registry-unreachable";
    case WorkstationResult::kTimedOut:
      return "timed-out";
    case WorkstationResult::kNoMonitorInfo:
    case WorkstationResult::kMonitors:
      break;
  }
  return "no-monitors";
}

std::optional<WorkstationResult> ReasonOf(const Examination& examination) {
  switch (examination.outcome) {
    case ExaminationOutcome::kUnreachable:
      return examination.probeResult == kPingHostNotFound ? WorkstationResult::kNotFound
                                                          : WorkstationResult::kNoReply;
    case ExaminationOutcome::kRegistryError:
      return RegistryFailureResult(examination.registryErrorCode);
    case ExaminationOutcome::kNoMonitors:
      return WorkstationResult::kNoMonitorInfo;
    case ExaminationOutcome::kCutShort:
      return WorkstationResult::kTimedOut;
    case ExaminationOutcome::kMonitorsFound:
      break;
  }
  return std::nullopt;
}

ExaminationOptions ExaminationOptionsFor(const ReportLayout& layout) {
  ExaminationOptions options;
  options.readPresence = layout.NeedsPresence();
  options.presentOnly = layout.presentOnly;
  // A monitor such an output names is not left out for a blank row.
  options.reportByInventoryIdentity = layout.ShowsExtendedFields();
  return options;
}

std::optional<EdidFacts> MonitorEdidFacts(const ReportedMonitor& monitor) {
  if (!monitor.details.edid) return std::nullopt;
  return ReadEdidFacts(*monitor.details.edid);
}

std::vector<std::string> ExtendedCells(std::string_view workstation, const ReportedMonitor& monitor,
                                       const MakerNames& makers) {
  const std::string unknown(kUnknown);
  const std::string presence(PresenceName(monitor.details.presence));
  const std::optional<EdidFacts> read = MonitorEdidFacts(monitor);
  if (!read || !read->baseComplete) {
    const std::string checksum = read ? "invalid" : unknown;
    return {unknown, unknown, unknown,  presence,
            unknown, unknown, "none",   "no",
            unknown, unknown, checksum, WorkstationMonitorKey(monitor.monitorId, workstation)};
  }
  const EdidFacts& facts = *read;
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
          facts.checksumValid ? "valid" : "invalid",
          MonitorKeyOf(*monitor.details.edid, facts, monitor.monitorId, workstation)};
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
  std::vector<std::string> fields = {std::string(workstation), monitor.monitorId};
  fields.insert(fields.end(), monitor.row.begin(), monitor.row.end());
  for (std::string& cell : ExtendedCells(workstation, monitor, makers))
    fields.push_back(std::move(cell));
  return CsvLine(fields);
}

std::string FormatExtendedNoteLine(std::string_view workstation, std::string_view note) {
  std::vector<std::string> fields(1 + 10 + std::size(kExtendedHeaders) + 1);
  fields.front() = workstation;
  fields.back() = note;
  return CsvLine(fields);
}

}  // namespace glimmora
