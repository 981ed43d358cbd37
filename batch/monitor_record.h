#pragma once
// One reported monitor as every output reads it: the row the scan made, and
// what the outputs beyond the specified columns show of its EDID, worked out
// once from the facts the scan decoded.

#include <string>
#include <string_view>
#include <vector>

#include "inventory/edid/edid_facts.h"
#include "inventory/edid/inventory_identity.h"
#include "inventory/makers/maker_names.h"
#include "inventory/monitor_table.h"

namespace glimmora {

struct MonitorRecord {
  std::string_view workstation;
  const ReportedMonitor& monitor;
  // Null when no EDID value was read.
  const EdidFacts* facts = nullptr;
  // Known only when the value holds the whole base block (Decoded()).
  std::string maker;
  InventoryIdentity identity;
  // Always known: from the EDID, else from the workstation and monitor ID.
  std::string monitorKey;

  bool Decoded() const { return facts != nullptr && facts->baseComplete; }
};

// The record of `monitor`, reported for `workstation`; the maker's name from `makers`.
MonitorRecord DescribeMonitor(std::string_view workstation, const ReportedMonitor& monitor,
                              const MakerNames& makers);

// "yes", "no", "unknown".
std::string_view PresenceName(Presence presence);

// Maker, Manufacturer Code, Product Code, Present, Inventory Model, Inventory
// Serial, Serial Source, Placeholder Serial, ID Serial, Year Kind, EDID
// Checksum, Monitor Key: the texts, and the cells of one record in that order.
std::vector<std::string> ExtendedHeaderTexts();
std::vector<std::string> ExtendedCells(const MonitorRecord& record);

}  // namespace glimmora
