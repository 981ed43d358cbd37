#include "inventory/edid/monitor_key.h"

#include <cstdio>

#include "inventory/edid/inventory_identity.h"

namespace glimmora {

namespace {

std::string CodesPart(std::string_view manufacturerCode, std::string_view productCode) {
  std::string part(manufacturerCode);
  part += '-';
  part += productCode;
  return part;
}

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

std::uint64_t Fnv1a64(std::span<const std::uint8_t> bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const std::uint8_t byte : bytes) {
    hash ^= byte;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string SerialMonitorKey(std::string_view manufacturerCode, std::string_view productCode,
                             std::string_view serial) {
  return CodesPart(manufacturerCode, productCode) + "-S:" + std::string(serial);
}

std::string WorkstationMonitorKey(std::string_view monitorId, std::string_view workstation) {
  const std::string codes = monitorId.size() == 7
                                ? CodesPart(monitorId.substr(0, 3), monitorId.substr(3))
                                : std::string(monitorId);
  return codes + "-W:" + UpperAscii(workstation);
}

std::string MonitorKeyOf(std::span<const std::uint8_t> edid, const EdidFacts& facts,
                         std::string_view monitorId, std::string_view workstation) {
  if (!facts.baseComplete || edid.size() < kEdidBlockSize)
    return WorkstationMonitorKey(monitorId, workstation);
  const std::string product = ProductCodeText(facts.productCode);
  const InventoryIdentity identity = ChooseInventoryIdentity(facts);
  if (!identity.serial.empty())
    return SerialMonitorKey(facts.manufacturerCode, product, identity.serial);
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx",
                static_cast<unsigned long long>(Fnv1a64(edid.first(kEdidBlockSize))));
  return CodesPart(facts.manufacturerCode, product) + "-E:" + hash;
}

MonitorKeyKind MonitorKeyKindOf(std::string_view key) {
  // The codes never hold a colon; a serial may, so the first one counts.
  const std::size_t colon = key.find(':');
  if (colon != std::string_view::npos && colon >= 2 && key[colon - 2] == '-') {
    if (key[colon - 1] == 'S') return MonitorKeyKind::kSerial;
    if (key[colon - 1] == 'E') return MonitorKeyKind::kEdidHash;
  }
  return MonitorKeyKind::kWorkstation;
}

}  // namespace glimmora
