#pragma once
// The outputs a user asks for beyond the specified ones (glimmora check and
// glimmora batch with --columns extended, --format json / jsonl,
// --present-only): the extended columns and JSON objects made from an
// examination's rows and their details.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch/result_layout.h"
#include "inventory/edid/edid_facts.h"
#include "inventory/makers/maker_names.h"
#include "inventory/monitor_table.h"
#include "inventory/registry/examination.h"

namespace glimmora {

enum class ResultFormat { kCsv, kJson };

// What an output shows; the default is the specified output.
struct ReportLayout {
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
  // Whether the output shows the extended fields (maker, inventory model and
  // serial...) beside the row. --present-only alone writes the specified columns.
  bool ShowsExtendedFields() const { return extendedColumns || format == ResultFormat::kJson; }
};

// "unreachable", "not-resolved", "registry-denied", "registry-unreachable",
// "timed-out", "no-monitors": why a workstation has no monitor to report, for
// machines reading the output.
std::string_view ReasonName(WorkstationResult reason);

// The reason of an examination that reported no monitor; none with
// kMonitorsFound. kCutShort reads as timed out.
std::optional<WorkstationResult> ReasonOf(const Examination& examination);

// How the lines of that output are read back (resume, retry).
std::unique_ptr<ResultLayout> ResultLayoutFor(const ReportLayout& layout);

// What the examination must read for the layout.
ExaminationOptions ExaminationOptionsFor(const ReportLayout& layout);

// The facts of the monitor's EDID value; none when it had none.
std::optional<EdidFacts> MonitorEdidFacts(const ReportedMonitor& monitor);

// The twelve extended cells, in the order of ExtendedHeaderTexts; the
// workstation's name goes into the key of a monitor without an EDID.
std::vector<std::string> ExtendedCells(std::string_view workstation, const ReportedMonitor& monitor,
                                       const MakerNames& makers);
// Maker, Manufacturer Code, Product Code, Present, Inventory Model, Inventory
// Serial, Serial Source, Placeholder Serial, ID Serial, Year Kind, EDID
// Checksum, Monitor Key.
std::vector<std::string> ExtendedHeaderTexts();

// The CSV layout with extended columns: the specified columns up to EDID
// Version, the twelve extended ones, then Note. Lines end in CR LF.
std::string FormatExtendedHeaderLine();
std::string FormatExtendedMonitorLine(std::string_view workstation, const ReportedMonitor& monitor,
                                      const MakerNames& makers);
std::string FormatExtendedNoteLine(std::string_view workstation, std::string_view note);

// One JSON object on one line, ending in LF, in UTF-8: a monitor (with the
// workstation), or a workstation without monitors with its reason and message.
// With a service that had to be looked at (--start-service), its handling
// as the field "service".
std::string FormatJsonMonitorLine(std::string_view workstation, const ReportedMonitor& monitor,
                                  const MakerNames& makers,
                                  ServiceHandling service = ServiceHandling::kNotNeeded);
std::string FormatJsonReasonLine(std::string_view workstation, WorkstationResult reason,
                                 std::string_view message,
                                 ServiceHandling service = ServiceHandling::kNotNeeded);
// The whole result of a check as one JSON document (pretty-printed, LF ends):
// `message` is the text shown for a reason, when there is one.
std::string FormatJsonCheck(std::string_view workstation, const Examination& examination,
                            std::string_view message, const MakerNames& makers);

}  // namespace glimmora
