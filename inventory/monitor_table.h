#pragma once
// The rows that one scan of a display device identifier hands to its reader,
// and the rules by which both readers decide which rows they report.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace glimmora {

struct EdidFacts;

// Fills every cell whose source cannot be read.
inline constexpr std::string_view kUnknown = "<UNKNOWN>";

// Whether a monitor instance is plugged in now: Plug and Play keeps a volatile
// "Control" subkey under the instance key of a device that is there.
enum class Presence { kPresent, kGhost, kUnknown };

// What a row holds beyond its nine texts, for the outputs that ask for it.
struct MonitorDetails {
  // kUnknown also when the scan was not asked to look.
  Presence presence = Presence::kUnknown;
  // The EDID value as read (a monitor key hashes it); none when it could not
  // be read.
  std::optional<std::vector<std::uint8_t>> edid;
  // What the scan read from that value, once, for every output; null
  // without one.
  std::shared_ptr<const EdidFacts> facts;
};

// Nine parallel columns, one row per instance key of one device identifier,
// and the details of each row beside them.
struct MonitorTable {
  std::vector<std::string> deviceClass;
  std::vector<std::string> description;
  std::vector<std::string> mfg;
  std::vector<std::string> hardwareId;
  std::vector<std::string> model;
  std::vector<std::string> serialNumber;
  std::vector<std::string> monitorSize;
  std::vector<std::string> mfgDate;
  std::vector<std::string> edidVersion;
  std::vector<MonitorDetails> details;

  void Clear();
  std::size_t RowCount() const { return deviceClass.size(); }
};

// One row's nine cells, in the order the readers show and write them:
// class, description, MFG, hardware ID, model, serial number, size, date, version.
using MonitorRow = std::array<std::string, 9>;
enum MonitorColumn : std::size_t {
  kColumnClass,
  kColumnDescription,
  kColumnMfg,
  kColumnHardwareId,
  kColumnModel,
  kColumnSerialNumber,
  kColumnMonitorSize,
  kColumnMfgDate,
  kColumnEdidVersion,
};

// The row at `index` (0 <= index < RowCount()).
MonitorRow RowAt(const MonitorTable& table, std::size_t index);

// True when the cell is the placeholder, letter case aside.
bool IsUnknown(std::string_view cell);

// A row is reported unless both its model and its serial number are unknown.
bool IsReportableRow(std::string_view model, std::string_view serialNumber);
bool IsReportableRow(const MonitorRow& row);

// A row as it is reported: the device identifier it was found under (the
// monitor ID) and its nine cells.
struct ReportedMonitor {
  std::string monitorId;
  MonitorRow row;
  MonitorDetails details;
};

// The rows reported for one workstation, by the rules both readers apply: a
// row is left out when it is not reportable, and when its monitor ID and all
// nine cells equal those of a row already reported, letter case aside (the
// first of equal rows is the one reported).
class ReportedMonitors {
 public:
  // True when the row is reported, and kept. A row left out as a duplicate
  // still tells that the monitor is there: the kept row becomes present (or
  // unknown rather than a ghost).
  bool Admit(std::string_view monitorId, const MonitorRow& row, MonitorDetails details = {});
  // The same for a row its reader reports by a rule of its own although the
  // row itself is not reportable: only the duplicate rule applies.
  bool AdmitReportable(std::string_view monitorId, const MonitorRow& row,
                       MonitorDetails details = {});
  const std::vector<ReportedMonitor>& rows() const { return rows_; }
  std::vector<ReportedMonitor> Take() { return std::move(rows_); }

 private:
  std::vector<ReportedMonitor> rows_;
  // The case-folded texts of every reported row, so that the duplicate test
  // does not read every row for each new one (thousands of instances would
  // take minutes).
  std::unordered_map<std::string, std::size_t> keys_;  // to the index in rows_
};

}  // namespace glimmora
