#pragma once
// A key for a monitor that stays the same wherever it is plugged in, so that
// two inventories can tell a monitor moved to another desk from one replaced.
//
//   DEL-D11D-S:2NQHQD3           maker code, product code, Inventory Serial
//   SHP-4353-E:9c3f0a17d2b4e681  no serial worth the name: a hash of the base block
//   DEL-D11D-W:ACCT-01           no EDID at all: only the workstation tells it apart
//
// The serial form needs a serial that is known and no placeholder (firmware
// that writes "0000000000001" gives every unit the same one). The hash form
// matches the same unit only while its EDID stays the same, and two units of
// a model without any serial share it. The workstation form never matches a
// monitor on another workstation: it can be added or removed, never moved.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "inventory/edid/edid_facts.h"

namespace glimmora {

enum class MonitorKeyKind { kSerial, kEdidHash, kWorkstation };

// The key of a monitor whose EDID was read (`edid`, its facts in `facts`);
// with fewer than 128 bytes, the workstation form from `monitorId`.
std::string MonitorKeyOf(std::span<const std::uint8_t> edid, const EdidFacts& facts,
                         std::string_view monitorId, std::string_view workstation);

// The serial form from the codes and an Inventory Serial as an output shows
// them (reading an inventory back).
std::string SerialMonitorKey(std::string_view manufacturerCode, std::string_view productCode,
                             std::string_view serial);
// The workstation form: "DEL-D11D" from a monitor ID "DELD11D" (a longer or
// shorter ID as it stands), and the workstation's name in upper case, as
// Windows names compare.
std::string WorkstationMonitorKey(std::string_view monitorId, std::string_view workstation);

// Which of the three forms `key` is; kWorkstation for a text of no form.
MonitorKeyKind MonitorKeyKindOf(std::string_view key);

// 64-bit FNV-1a of the bytes.
std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes);

}  // namespace glimmora
