#pragma once
// The comma-separated result file: a header line, then eleven fields a
// monitor, twelve (ten of them empty) a failure or no-monitor line, each
// ending in CR LF, fields quoted where they hold a comma, CR or LF or begin
// with a double quote. With the extended columns twelve more stand before
// the Note (empty in a note line).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/result_format.h"
#include "inventory/monitor_table.h"

namespace glimmora {

class CsvResultFormat : public ResultFormat {
 public:
  explicit CsvResultFormat(bool extendedColumns = false) : extended_(extendedColumns) {}

  std::string Header() const override;
  std::string MonitorLine(const MonitorRecord& record, ServiceHandling service) const override;
  std::string ReasonLine(std::string_view workstation, WorkstationResult reason,
                         std::string_view note, ServiceHandling service) const override;

  bool IsAnyHeader(std::string_view header) const override;
  std::size_t RecordLength(std::string_view rest) const override;
  std::optional<ResultLine> Read(std::string_view record) const override;
  std::optional<WorkstationResult> ResultOf(std::string_view record,
                                            std::string_view workstation) const override;
  std::string WrittenName(std::string_view workstation) const override {
    return std::string(workstation);
  }
  std::string_view LineEnd() const override { return "\r\n"; }
  std::string_view Options() const override { return extended_ ? "--columns extended" : ""; }
  std::string AsWritten(std::string_view record, RecordForm* form) const override;

 private:
  std::size_t MonitorFields() const;
  bool extended_;
};

// The lines of the specified columns, line end included.
std::string FormatHeaderLine();
std::string FormatMonitorLine(std::string_view workstation, std::string_view monitorId,
                              const MonitorRow& row);
std::string FormatFailureLine(std::string_view workstation, std::string_view note);
std::string FormatNoMonitorLine(std::string_view workstation);

// What a failure or no-monitor line's note says, in English or Japanese,
// whichever language the run that wrote it had.
WorkstationResult ClassifyNote(std::string_view workstation, std::string_view note);

// The fields of one CSV record (its line end included or not); nothing when
// a quote is not closed or stray bytes follow a closing quote. With
// `skipFirst` the first field is left empty.
std::optional<std::vector<std::string>> SplitCsvRecord(std::string_view record,
                                                       bool skipFirst = false);

}  // namespace glimmora
