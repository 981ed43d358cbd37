#pragma once
// The outputs a user asks for beyond the specified ones (glimmora check and
// glimmora batch with --columns extended, --format json / jsonl,
// --present-only): the examination that keeps each row's details, and the
// extended columns and JSON objects made from them.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/makers/maker_names.h"
#include "inventory/monitor_table.h"
#include "inventory/registry_access.h"

namespace glimmora {

enum class ResultFormat { kCsv, kJson };

// What an output shows; the default is the specified output.
struct ResultLayout {
  bool extendedColumns = false;
  ResultFormat format = ResultFormat::kCsv;
  bool presentOnly = false;
  const MakerNames* makers = nullptr;  // needed for the extended columns and JSON

  bool IsSpecified() const {
    return !extendedColumns && format == ResultFormat::kCsv && !presentOnly;
  }
  // Whether the scan must open each instance's Control key.
  bool NeedsPresence() const {
    return extendedColumns || format == ResultFormat::kJson || presentOnly;
  }
};

// One monitor as reported: its Monitor ID, its nine cells and their details.
struct ReportedMonitor {
  std::string deviceId;
  MonitorRow row;
  MonitorDetails details;
};

// Why a workstation has no monitor to report, for machines reading the output.
enum class WorkstationReason {
  kUnreachable,          // no answer to the echo request
  kNotResolved,          // the name could not be resolved
  kRegistryDenied,       // access denied, or the logon was refused
  kRegistryUnreachable,  // any other failure to open or read its registry
  kTimedOut,             // the batch's time limit for one workstation passed
  kNoMonitors,
};
// "unreachable", "not-resolved", "registry-denied", "registry-unreachable",
// "timed-out", "no-monitors".
std::string_view ReasonName(WorkstationReason reason);

struct MonitorExamination {
  bool stopped = false;                     // a stop came first; nothing else is set
  std::optional<WorkstationReason> reason;  // none: `monitors` holds at least one
  std::string message;                      // the text a user reads for the reason
  std::vector<ReportedMonitor> monitors;
};

// PingHost's contract: above 0 unreachable (1: name not found), with the text.
using MonitorProbe = std::function<int(const std::string& workstation, std::string& resultText)>;

// Probe (when given), connect, scan every device identifier (reading presence
// when the layout needs it), then the rows: ghosts out under presentOnly, the
// reportable-row rule, and the duplicate-row rule over the Monitor ID and the
// nine cells (a dropped duplicate that is present makes the kept row present).
// `stop` is asked between steps.
MonitorExamination ExamineMonitors(RegistryAccess& registry, const MonitorProbe& probe,
                                   const std::string& workstation, const ResultLayout& layout,
                                   const std::function<bool()>& stop);

// The eleven extended cells, in the order of ExtendedHeaderTexts.
std::vector<std::string> ExtendedCells(const ReportedMonitor& monitor, const MakerNames& makers);
// Maker, Manufacturer Code, Product Code, Present, Inventory Model, Inventory
// Serial, Serial Source, Placeholder Serial, ID Serial, Year Kind, EDID Checksum.
std::vector<std::string> ExtendedHeaderTexts();

// The CSV layout with extended columns: the specified columns up to EDID
// Version, the eleven extended ones, then Note. Lines end in CR LF.
std::string FormatExtendedHeaderLine();
std::string FormatExtendedMonitorLine(std::string_view workstation, const ReportedMonitor& monitor,
                                      const MakerNames& makers);
std::string FormatExtendedNoteLine(std::string_view workstation, std::string_view note);

// One JSON object on one line, ending in LF, in UTF-8: a monitor (with the
// workstation), or a workstation without monitors with its reason and message.
std::string FormatJsonMonitorLine(std::string_view workstation, const ReportedMonitor& monitor,
                                  const MakerNames& makers);
std::string FormatJsonReasonLine(std::string_view workstation, WorkstationReason reason,
                                 std::string_view message);
// The whole result of a check as one JSON document (pretty-printed, LF ends).
std::string FormatJsonCheck(std::string_view workstation, const MonitorExamination& examination,
                            const MakerNames& makers);

}  // namespace glimmora
