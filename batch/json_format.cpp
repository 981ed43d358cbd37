#include "batch/json_format.h"

#include <nlohmann/json.hpp>

#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

using Json = nlohmann::ordered_json;

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

// A text of the program's code page as UTF-8; null where it is unknown.
Json TextOrNull(std::string_view text) {
  if (text.empty() || IsUnknown(text)) return nullptr;
  return Utf8FromAnsi(text);
}

Json MonitorObject(const MonitorRecord& record) {
  const ReportedMonitor& monitor = record.monitor;
  Json object;
  object["workstation"] = Utf8FromAnsi(record.workstation);
  object["monitorId"] = Utf8FromAnsi(monitor.monitorId);
  const char* names[] = {"class",        "description", "mfg",     "hardwareId", "model",
                         "serialNumber", "monitorSize", "mfgDate", "edidVersion"};
  for (std::size_t i = 0; i < monitor.row.size(); ++i)
    object[names[i]] =
        IsUnknown(monitor.row[i]) ? Json(nullptr) : Json(Utf8FromAnsi(monitor.row[i]));

  // The base block's fields, null without it; an identity not chosen is empty.
  const EdidFacts* facts = record.Decoded() ? record.facts : nullptr;
  const Json none(nullptr);
  object["maker"] = facts ? Json(Utf8FromAnsi(record.maker)) : none;
  object["manufacturerCode"] = facts ? Json(facts->manufacturerCode) : none;
  object["productCode"] = facts ? Json(ProductCodeText(facts->productCode)) : none;
  object["present"] = std::string(PresenceName(monitor.details.presence));
  object["inventoryModel"] = TextOrNull(record.identity.model);
  object["inventorySerial"] = TextOrNull(record.identity.serial);
  object["serialSource"] = std::string(SerialSourceName(record.identity.serialSource));
  object["placeholderSerial"] = record.identity.placeholderSerial;
  object["idSerial"] = facts ? Json(facts->idSerialNumber) : none;
  object["yearKind"] =
      facts ? Json(facts->yearKind == YearKind::kModel ? "model" : "manufacture") : none;
  // A value too short for the base block still has a checksum, and it is invalid.
  object["edidChecksum"] = record.facts == nullptr         ? none
                           : facts && facts->checksumValid ? Json("valid")
                                                           : Json("invalid");
  object["monitorKey"] = Utf8FromAnsi(record.monitorKey);
  return object;
}

void AddServiceField(Json* object, ServiceHandling service) {
  if (service != ServiceHandling::kNotNeeded)
    (*object)["service"] = std::string(ServiceHandlingName(service));
}

// Bytes that are no UTF-8 (an EDID text in some other code) become U+FFFD.
std::string Dump(const Json& json, int indent = -1) {
  return json.dump(indent, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string JsonLinesResultFormat::MonitorLine(const MonitorRecord& record,
                                               ServiceHandling service) const {
  Json object = MonitorObject(record);
  AddServiceField(&object, service);
  return Dump(object) + "\n";
}

std::string JsonLinesResultFormat::ReasonLine(std::string_view workstation,
                                              WorkstationResult reason, std::string_view note,
                                              ServiceHandling service) const {
  Json object;
  object["workstation"] = Utf8FromAnsi(workstation);
  object["reason"] = std::string(ReasonName(reason));
  object["message"] = Utf8FromAnsi(note);
  AddServiceField(&object, service);
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
  AddServiceField(&document, examination.service);
  Json monitors = Json::array();
  for (const ReportedMonitor& monitor : examination.monitors) {
    Json object = MonitorObject(DescribeMonitor(workstation, monitor, makers));
    object.erase("workstation");
    monitors.push_back(std::move(object));
  }
  document["monitors"] = std::move(monitors);
  return Dump(document, 2) + "\n";
}

std::size_t JsonLinesResultFormat::RecordLength(std::string_view rest) const {
  const std::size_t end = rest.find('\n');
  return end == std::string_view::npos ? 0 : end + 1;
}

std::optional<ResultLine> JsonLinesResultFormat::Read(std::string_view record) const {
  const std::optional<Json> object = ParseLine(record);
  if (!object) return std::nullopt;
  const auto workstation = object->find("workstation");
  if (workstation == object->end() || !workstation->is_string()) return std::nullopt;
  const std::optional<WorkstationResult> result = ResultOfObject(*object);
  if (!result) return std::nullopt;
  return ResultLine{AnsiFromUtf8(workstation->get_ref<const std::string&>()), *result};
}

std::optional<WorkstationResult> JsonLinesResultFormat::ResultOf(std::string_view record,
                                                                 std::string_view) const {
  const std::optional<Json> object = ParseLine(record);
  if (!object) return std::nullopt;
  return ResultOfObject(*object);
}

std::string JsonLinesResultFormat::WrittenName(std::string_view workstation) const {
  // As Dump replaces, and Read converts back.
  return AnsiFromUtf8(ValidUtf8(Utf8FromAnsi(workstation)));
}

std::string JsonLinesResultFormat::AsWritten(std::string_view record, RecordForm* form) const {
  *form = {};
  if (!record.ends_with("\r\n")) return std::string(record);
  form->otherLineEnd = true;
  std::string asWritten(record.substr(0, record.size() - 2));
  asWritten += LineEnd();
  return asWritten;
}

}  // namespace glimmora
