#pragma once
// The rows that one scan of a display device identifier hands to its reader,
// and the rules by which both readers decide which rows they report.

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/edid/edid_facts.h"

namespace glimmora {

// Fills every cell whose source cannot be read.
inline constexpr std::string_view kUnknown = "<UNKNOWN>";

// Whether a monitor instance is plugged in now: Plug and Play keeps a volatile
// "Control" subkey under the instance key of a device that is there.
enum class Presence { kPresent, kGhost, kUnknown };

// What a row holds beyond its nine texts, for the outputs that ask for it.
struct MonitorDetails {
  // kUnknown also when the scan was not asked to look.
  Presence presence = Presence::kUnknown;
  std::optional<EdidFacts> edid;  // none when no EDID value could be read
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

// Two rows of one workstation are duplicates when their monitor IDs and all nine
// cells are equal without regard to letter case.
bool AreDuplicateRows(std::string_view monitorIdA, const MonitorRow& a, std::string_view monitorIdB,
                      const MonitorRow& b);

}  // namespace glimmora
