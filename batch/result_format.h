#pragma once
// The formats of a batch's result lines. One ResultFormat writes the lines of
// its format (header, monitor line, the line of a workstation without
// monitors) and reads them back: resuming a run, retrying its failures,
// merging and counting an outcome all read what a run wrote.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "batch/monitor_record.h"
#include "inventory/makers/maker_names.h"
#include "inventory/registry/examination.h"

namespace glimmora {

// What one workstation's examination came to, as its lines say.
enum class WorkstationResult {
  kMonitors,             // one line per monitor
  kNoMonitorInfo,        // "PC01 has No monitor information."
  kNotFound,             // the name could not be resolved
  kNoReply,              // no answer to the echo
  kRegistryDenied,       // the registry refused the user (access denied)
  kRegistryUnreachable,  // the registry could not be opened for another reason
  kTimedOut,             // the workstation took longer than the batch's time-out
};

// Whether the workstation could not be examined: a run later may do better.
// A workstation without monitor information was examined.
bool IsFailure(WorkstationResult result);

// What a registry that failed with this Windows code comes to: refused to the
// user (access denied, or a logon the workstation would not take) or
// unreachable. The one rule, for a failure as it happens and as its line is
// read back.
WorkstationResult RegistryFailureResult(long code);

// The reason of an examination that reported no monitor; none with
// kMonitorsFound. kCutShort reads as timed out.
std::optional<WorkstationResult> ReasonOf(const Examination& examination);

// "unreachable", "not-resolved", "registry-denied", "registry-unreachable",
// "timed-out", "no-monitors": why a workstation has no monitor to report, for
// machines reading the output.
std::string_view ReasonName(WorkstationResult reason);

// One result line as read back.
struct ResultLine {
  std::string workstation;
  WorkstationResult result = WorkstationResult::kMonitors;
};

// What a tool may have changed about a record's form, its content left as
// the batch wrote it.
struct RecordForm {
  bool otherLineEnd = false;        // LF alone in the CSV, CR LF in JSON lines
  bool trailingEmptyField = false;  // one empty field more, as a spreadsheet saves a CSV file
  bool Changed() const { return otherLineEnd || trailingEmptyField; }
};

class ResultFormat {
 public:
  virtual ~ResultFormat() = default;

  // The bytes a run writes before the first workstation (may be empty).
  virtual std::string Header() const = 0;
  // One monitor's line, line end included. With a service that had to be
  // looked at (--start-service), the formats that can say so say how it was
  // handled.
  virtual std::string MonitorLine(const MonitorRecord& record, ServiceHandling service) const = 0;
  // The one line of a workstation without monitors: why (`reason`), and the
  // text a person reads (`note`).
  virtual std::string ReasonLine(std::string_view workstation, WorkstationResult reason,
                                 std::string_view note, ServiceHandling service) const = 0;

  // Whether the bytes at the start of a file are the header of a run in
  // either language (for reading back another run's file).
  virtual bool IsAnyHeader(std::string_view header) const = 0;
  // The bytes of the first complete record of `rest`, line end included; 0
  // when `rest` holds no complete one (it is cut off).
  virtual std::size_t RecordLength(std::string_view rest) const = 0;
  // The record read back; nothing when it is not a line of this format.
  virtual std::optional<ResultLine> Read(std::string_view record) const = 0;
  // What a record written for `workstation` says, without reading its name back.
  virtual std::optional<WorkstationResult> ResultOf(std::string_view record,
                                                    std::string_view workstation) const = 0;
  // The name Read gives back from a record written for `workstation`.
  virtual std::string WrittenName(std::string_view workstation) const = 0;
  // The line end this format writes: "\r\n" or "\n".
  virtual std::string_view LineEnd() const = 0;
  // The options of `glimmora batch` that write this format.
  virtual std::string_view Options() const = 0;
  // The record in the form this format writes, where a tool changed no more
  // than its form; *form says what was changed. A record without its line
  // end comes back as it is.
  virtual std::string AsWritten(std::string_view record, RecordForm* form) const = 0;
};

enum class ReportFormat { kCsv, kJson };

// What an output shows, as the user asked; the default is the specified output.
struct ReportLayout {
  bool extendedColumns = false;
  ReportFormat format = ReportFormat::kCsv;
  bool presentOnly = false;
  const MakerNames* makers = nullptr;  // needed for the extended columns and JSON

  bool IsSpecified() const {
    return !extendedColumns && format == ReportFormat::kCsv && !presentOnly;
  }
  // Whether the scan must open each instance's Control key.
  bool NeedsPresence() const {
    return extendedColumns || format == ReportFormat::kJson || presentOnly;
  }
  // Whether the output shows the extended fields (maker, inventory model and
  // serial...) beside the row. --present-only alone writes the specified columns.
  bool ShowsExtendedFields() const { return extendedColumns || format == ReportFormat::kJson; }
};

// The result format of a batch's output: CSV (with the extended columns or
// not) or JSON lines.
std::unique_ptr<ResultFormat> ResultFormatFor(const ReportLayout& layout);

// What the examination must read for the layout.
ExaminationOptions ExaminationOptionsFor(const ReportLayout& layout);

// When `first`, the first record of a file that `format` does not read, is
// the beginning of another format's output: what that output is and the
// options that read it, to follow a refusal; empty otherwise.
std::string OtherFormatHint(const ResultFormat& format, std::string_view first);

}  // namespace glimmora
