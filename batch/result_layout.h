#pragma once
// Reading back what a batch wrote: which workstation a result line is for and
// what became of it. Resuming a run, retrying its failures and counting its
// outcome all read result lines; a layout knows the lines of one format.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One result line as read back.
struct ResultLine {
  std::string workstation;
  WorkstationResult result = WorkstationResult::kMonitors;
};

// What a registry that failed with this Windows code comes to: refused to the
// user (access denied, or a logon the workstation would not take) or
// unreachable. The one rule, for a failure as it happens and as its line is
// read back.
WorkstationResult RegistryFailureResult(long code);

// What a failure or no-monitor line's note says, in English or Japanese,
// whichever language the run that wrote it had.
WorkstationResult ClassifyNote(std::string_view workstation, std::string_view note);

// What a tool may have changed about a record's form, its content left as
// the batch wrote it.
struct RecordForm {
  bool otherLineEnd = false;        // LF alone in the CSV, CR LF in JSON lines
  bool trailingEmptyField = false;  // one empty field more, as a spreadsheet saves a CSV file
  bool Changed() const { return otherLineEnd || trailingEmptyField; }
};

// The lines of one output format.
class ResultLayout {
 public:
  virtual ~ResultLayout() = default;
  // The bytes a run writes before the first workstation (may be empty).
  virtual std::string Header() const = 0;
  // Whether the bytes at the start of a file are the header of a run in
  // either language (for reading back another run's file).
  virtual bool IsAnyHeader(std::string_view header) const = 0;
  // The bytes of the first complete record of `rest`, line end included; 0
  // when `rest` holds no complete one (it is cut off).
  virtual std::size_t RecordLength(std::string_view rest) const = 0;
  // The record read back; nothing when it is not a line of this layout.
  virtual std::optional<ResultLine> Read(std::string_view record) const = 0;
  // What a record written for `workstation` says, without reading its name back.
  virtual std::optional<WorkstationResult> ResultOf(std::string_view record,
                                                    std::string_view workstation) const = 0;
  // The name Read gives back from a record written for `workstation`.
  virtual std::string WrittenName(std::string_view workstation) const = 0;
  // The line end this batch writes: "\r\n" or "\n".
  virtual std::string_view LineEnd() const = 0;
  // The options of `glimmora batch` that write this layout.
  virtual std::string_view Options() const = 0;
  // The record in the form this batch writes, where a tool changed no more
  // than its form; *form says what was changed. A record without its line
  // end comes back as it is.
  virtual std::string AsWritten(std::string_view record, RecordForm* form) const = 0;
};

// The comma-separated result file: a header line, then eleven fields a
// monitor, twelve (ten of them empty) a failure or no-monitor line, each
// ending in CR LF, fields quoted where they hold a comma, CR or LF. With the
// extended columns twelve more stand before the Note (empty in a note line).
class CsvResultLayout : public ResultLayout {
 public:
  explicit CsvResultLayout(bool extendedColumns = false) : extended_(extendedColumns) {}
  std::string Header() const override;
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

// JSON lines: no header, one object a line ending in LF, a monitor's with
// its monitorId, a workstation's without monitors with its reason. The text
// is UTF-8, read back into the program's code page.
class JsonLinesResultLayout : public ResultLayout {
 public:
  std::string Header() const override { return {}; }
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

// When `first`, the first record of a file that `layout` does not read, is
// the beginning of another layout's output: what that output is and the
// options that read it, to follow a refusal; empty otherwise.
std::string OtherLayoutHint(const ResultLayout& layout, std::string_view first);

// The fields of one CSV record (its line end included or not); nothing when
// a quote is not closed or stray bytes follow a closing quote. With
// `skipFirst` the first field is left empty.
std::optional<std::vector<std::string>> SplitCsvRecord(std::string_view record,
                                                       bool skipFirst = false);

}  // namespace glimmora
