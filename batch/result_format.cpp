#include "batch/result_format.h"

#include "batch/csv_format.h"
#include "batch/json_format.h"
#include "batch/output_encoding.h"

namespace glimmora {

namespace {
constexpr int kPingHostNotFound = 1;
}  // namespace

bool IsFailure(WorkstationResult result) {
  return result != WorkstationResult::kMonitors && result != WorkstationResult::kNoMonitorInfo;
}

WorkstationResult RegistryFailureResult(long code) {
  // Access denied, and the logon failures: bad name or password, account
  // restrictions, logon hours, workstation, expired password, disabled account.
  constexpr long kAccessDenied = 5;
  constexpr long kLogonFailure = 1326;
  constexpr long kAccountDisabled = 1331;
  return code == kAccessDenied || (code >= kLogonFailure && code <= kAccountDisabled)
             ? WorkstationResult::kRegistryDenied
             : WorkstationResult::kRegistryUnreachable;
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

std::unique_ptr<ResultFormat> ResultFormatFor(const ReportLayout& layout) {
  if (layout.format == ReportFormat::kJson) return std::make_unique<JsonLinesResultFormat>();
  return std::make_unique<CsvResultFormat>(layout.extendedColumns);
}

ExaminationOptions ExaminationOptionsFor(const ReportLayout& layout) {
  ExaminationOptions options;
  options.readPresence = layout.NeedsPresence();
  options.presentOnly = layout.presentOnly;
  // A monitor such an output names is not left out for a blank row.
  options.reportByInventoryIdentity = layout.ShowsExtendedFields();
  return options;
}

std::string OtherFormatHint(const ResultFormat& format, std::string_view first) {
  if (first.substr(0, kUtf8ByteOrderMark.size()) == kUtf8ByteOrderMark)
    first.remove_prefix(kUtf8ByteOrderMark.size());
  const CsvResultFormat specified(false);
  const CsvResultFormat extended(true);
  const JsonLinesResultFormat json;
  const struct {
    const ResultFormat& other;
    const char* what;
  } others[] = {{specified, "a CSV result file of the specified columns"},
                {extended, "a CSV result file of the extended columns"},
                {json, "JSON lines"}};
  for (const auto& [other, what] : others) {
    if (other.Options() == format.Options()) continue;
    RecordForm form;
    const std::string record = other.AsWritten(first, &form);
    const bool begins =
        other.Header().empty() ? other.Read(record).has_value() : other.IsAnyHeader(record);
    if (!begins) continue;
    std::string hint = "; it is " + std::string(what) + ": ";
    if (other.Options().empty()) return hint + "leave out " + std::string(format.Options());
    hint += "give " + std::string(other.Options());
    if (!format.Options().empty()) hint += " instead of " + std::string(format.Options());
    return hint;
  }
  return {};
}

}  // namespace glimmora
