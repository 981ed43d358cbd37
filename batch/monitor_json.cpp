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
// A JSON line read back: nothing when it is not an object of this report.
std::optional<Json> ParseLine(std::string_view record) {
  Json object = Json::parse(record.begin(), record.end(), nullptr, false);
  if (object.is_discarded() || !object.is_object()) return std::nullopt;
  return object;
}

std::optional<WorkstationResult> ResultOfObject(const Json& object) {
  const auto reason = object.find("reason");
  if (reason == object.end()) {
    if (object.contains("monitorId")) return WorkstationResult::kMonitors;
    return std::nullopt;
  }
  if (!reason->is_string()) return std::nullopt;
  for (WorkstationResult result :
       {WorkstationResult::kNoReply, WorkstationResult::kNotFound,
        WorkstationResult::kRegistryDenied, WorkstationResult::kRegistryUnreachable,
        WorkstationResult::kTimedOut, WorkstationResult::kNoMonitorInfo}) {
    if (reason->get_ref<const std::string&>() == ReasonName(result)) return result;
  }
  return std::nullopt;
}

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

  const std::vector<std::string> cells = ExtendedCells(workstation, monitor, makers);
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
  object["monitorKey"] = Utf8FromAnsi(cells[11]);
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
                                  const MakerNames& makers, ServiceHandling service) {
  Json object = MonitorObject(workstation, monitor, makers);
  if (service != ServiceHandling::kNotNeeded)
    object["service"] = std::string(ServiceHandlingName(service));
  return Dump(object) + "\n";
}

std::string FormatJsonReasonLine(std::string_view workstation, WorkstationResult reason,
                                 std::string_view message, ServiceHandling service) {
  Json object = ReasonObject(workstation, reason, message);
  if (service != ServiceHandling::kNotNeeded)
    object["service"] = std::string(ServiceHandlingName(service));
  return Dump(object) + "\n";
}

std::string FormatJsonCheck(std::string_view workstation, const Examination& examination,
                            std::string_view message, const MakerNames& makers) {
  Json document;
  document["workstation"] = Utf8FromAnsi(workstation);
  if (const std::optional<WorkstationResult> reason = ReasonOf(examination)) {
    document["reason"] = std::string(ReasonName(*reason));
    document["message"] = Utf8FromAnsi(message);
  }
  if (examination.service != ServiceHandling::kNotNeeded)
    document["service"] = std::string(ServiceHandlingName(examination.service));
  Json monitors = Json::array();
  for (const ReportedMonitor& monitor : examination.monitors) {
    Json object = MonitorObject(workstation, monitor, makers);
    object.erase("workstation");
    monitors.push_back(std::move(object));
  }
  document["monitors"] = std::move(monitors);
  return Dump(document, 2) + "\n";
}

std::size_t JsonLinesResultLayout::RecordLength(std::string_view rest) const {
  const std::size_t end = rest.find('\n');
  return end == std::string_view::npos ? 0 : end + 1;
}

std::optional<ResultLine> JsonLinesResultLayout::Read(std::string_view record) const {
  const std::optional<Json> object = ParseLine(record);
  if (!object) return std::nullopt;
  const auto workstation = object->find("workstation");
  if (workstation == object->end() || !workstation->is_string()) return std::nullopt;
  const std::optional<WorkstationResult> result = ResultOfObject(*object);
  if (!result) return std::nullopt;
  return ResultLine{AnsiFromUtf8(workstation->get_ref<const std::string&>()), *result};
}

std::optional<WorkstationResult> JsonLinesResultLayout::ResultOf(std::string_view record,
                                                                 std::string_view) const {
  const std::optional<Json> object = ParseLine(record);
  if (!object) return std::nullopt;
  return ResultOfObject(*object);
}

std::string JsonLinesResultLayout::WrittenName(std::string_view workstation) const {
  // As Dump replaces, and Read converts back.
  return AnsiFromUtf8(ValidUtf8(Utf8FromAnsi(workstation)));
}

std::unique_ptr<ResultLayout> ResultLayoutFor(const ReportLayout& layout) {
  if (layout.format == ResultFormat::kJson) return std::make_unique<JsonLinesResultLayout>();
  return std::make_unique<CsvResultLayout>(layout.extendedColumns);
}

}  // namespace glimmora
