#include "batch/monitor_record.h"

#include <iterator>

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

}  // namespace

MonitorRecord DescribeMonitor(std::string_view workstation, const ReportedMonitor& monitor,
                              const MakerNames& makers) {
  MonitorRecord record{workstation, monitor, monitor.details.facts.get()};
  if (!record.Decoded()) {
    record.monitorKey = WorkstationMonitorKey(monitor.monitorId, workstation);
    return record;
  }
  record.maker = makers.NameFor(record.facts->manufacturerCode);
  record.identity = ChooseInventoryIdentity(*record.facts);
  record.monitorKey =
      MonitorKeyOf(*monitor.details.edid, *record.facts, monitor.monitorId, workstation);
  return record;
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

std::vector<std::string> ExtendedHeaderTexts() {
  std::vector<std::string> texts;
  texts.reserve(std::size(kExtendedHeaders));
  for (const TextId id : kExtendedHeaders) texts.push_back(LoadText(id));
  return texts;
}

std::vector<std::string> ExtendedCells(const MonitorRecord& record) {
  const std::string unknown(kUnknown);
  const std::string presence(PresenceName(record.monitor.details.presence));
  if (!record.Decoded()) {
    const std::string checksum = record.facts != nullptr ? "invalid" : unknown;
    return {unknown, unknown, unknown, presence, unknown,  unknown,
            "none",  "no",    unknown, unknown,  checksum, record.monitorKey};
  }
  const EdidFacts& facts = *record.facts;
  const InventoryIdentity& identity = record.identity;
  return {record.maker,
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
          record.monitorKey};
}

}  // namespace glimmora
