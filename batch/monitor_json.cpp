// The JSON forms of the report: field names as documented in the README and
// in docs/monitor-report.schema.json.
#include <nlohmann/json.hpp>

#include "batch/monitor_report.h"
#include "inventory/ansi_conversion.h"
#include "inventory/edid/inventory_identity.h"

namespace glimmora {

namespace {

using Json = nlohmann::ordered_json;

// A cell of the program's text: UTF-8, or null where the cell is unknown.
Json TextOrNull(std::string_view text) {
  if (IsUnknown(text)) return nullptr;
  return Utf8FromAnsi(text);
}

Json MonitorObject(std::string_view workstation, const ReportedMonitor& monitor,
                   const MakerNames& makers) {
  Json object;
  object["workstation"] = Utf8FromAnsi(workstation);
  object["monitorId"] = Utf8FromAnsi(monitor.monitorId);
  const char* names[] = {"class",        "description", "mfg",     "hardwareId", "model",
                         "serialNumber", "monitorSize", "mfgDate", "edidVersion"};
  for (std::size_t i = 0; i < monitor.row.size(); ++i)
    object[names[i]] = TextOrNull(monitor.row[i]);

  const std::vector<std::string> cells = ExtendedCells(monitor, makers);
  const std::optional<EdidFacts> facts = MonitorEdidFacts(monitor);
  const bool haveFacts = facts && facts->baseComplete;
  object["maker"] = haveFacts ? Json(Utf8FromAnsi(cells[0])) : Json(nullptr);
  object["manufacturerCode"] = haveFacts ? Json(cells[1]) : Json(nullptr);
  object["productCode"] = haveFacts ? Json(cells[2]) : Json(nullptr);
  object["present"] = cells[3];
  object["inventoryModel"] = TextOrNull(cells[4]);
  object["inventorySerial"] = TextOrNull(cells[5]);
  object["serialSource"] = cells[6];
  object["placeholderSerial"] = cells[7] == "yes";
  object["idSerial"] = haveFacts ? Json(facts->idSerialNumber) : Json(nullptr);
  object["yearKind"] = haveFacts ? Json(cells[9]) : Json(nullptr);
  object["edidChecksum"] = facts ? Json(cells[10]) : Json(nullptr);
  return object;
}

Json ReasonObject(std::string_view workstation, WorkstationResult reason,
                  std::string_view message) {
  Json object;
  object["workstation"] = Utf8FromAnsi(workstation);
  object["reason"] = std::string(ReasonName(reason));
  object["message"] = Utf8FromAnsi(message);
  return object;
}

// Bytes that are no UTF-8 (an EDID text in some other code) become U+FFFD.
std::string Dump(const Json& json, int indent = -1) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string FormatJsonMonitorLine(std::string_view workstation, const ReportedMonitor& monitor,
                                  const MakerNames& makers) {
  return Dump(MonitorObject(workstation, monitor, makers)) + "\n";
}

std::string FormatJsonReasonLine(std::string_view workstation, WorkstationResult reason,
                                 std::string_view message) {
  return Dump(ReasonObject(workstation, reason, message)) + "\n";
}

std::string FormatJsonCheck(std::string_view workstation, const Examination& examination,
                            std::string_view message, const MakerNames& makers) {
  Json document;
  document["workstation"] = Utf8FromAnsi(workstation);
  if (const std::optional<WorkstationResult> reason = ReasonOf(examination)) {
    document["reason"] = std::string(ReasonName(*reason));
    document["message"] = Utf8FromAnsi(message);
  }
  Json monitors = Json::array();
  for (const ReportedMonitor& monitor : examination.monitors) {
    Json object = MonitorObject(workstation, monitor, makers);
    object.erase("workstation");
    monitors.push_back(std::move(object));
  }
  document["monitors"] = std::move(monitors);
  return Dump(document, 2) + "\n";
}

}  // namespace glimmora
