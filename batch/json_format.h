#pragma once
// JSON lines: no header, one object a line ending in LF, a monitor's with
// its monitorId, a workstation's without monitors with its reason. The text
// is UTF-8, read back into the program's code page. Field names as
// docs/monitor-report.schema.json documents them.

#include <optional>
#include <string>
#include <string_view>

#include "batch/result_format.h"

namespace glimmora {

class JsonLinesResultFormat : public ResultFormat {
 public:
  std::string Header() const override { return {}; }
  std::string MonitorLine(const MonitorRecord& record, ServiceHandling service) const override;
  std::string ReasonLine(std::string_view workstation, WorkstationResult reason,
                         std::string_view note, ServiceHandling service) const override;

  bool IsAnyHeader(std::string_view header) const override { return header.empty(); }
  std::size_t RecordLength(std::string_view rest) const override;
  std::optional<ResultLine> Read(std::string_view record) const override;
  std::optional<WorkstationResult> ResultOf(std::string_view record,
                                            std::string_view workstation) const override;
  // What is no UTF-8 in a name (a list in an 8-bit code page, off Windows)
  // was written as U+FFFD.
  std::string WrittenName(std::string_view workstation) const override;
  std::string_view LineEnd() const override { return "\n"; }
  std::string_view Options() const override { return "--format jsonl"; }
  std::string AsWritten(std::string_view record, RecordForm* form) const override;
};

// The whole result of a check as one JSON document (pretty-printed, LF ends):
// `message` is the text shown for a reason, when there is one.
std::string FormatJsonCheck(std::string_view workstation, const Examination& examination,
                            std::string_view message, const MakerNames& makers);

}  // namespace glimmora
