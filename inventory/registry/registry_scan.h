#pragma once
// Reaching a workstation's registry and turning its display-device entries into
// rows of a MonitorTable.

#include <string>
#include <vector>

#include "inventory/monitor_table.h"
#include "inventory/registry/registry_access.h"

namespace glimmora {

// With its final backslash: device key paths are formed by plain concatenation.
inline constexpr const char* kDisplayEnumPath = "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\";
// What the scan reads of each instance key: these values, and the EDID value
// of its subkey kDeviceParametersKey.
inline constexpr const char* kInstanceValueNames[] = {"Mfg", "DeviceDesc", "Class", "HardwareID"};
inline constexpr const char* kDeviceParametersKey = "Device Parameters";
inline constexpr const char* kEdidValueName = "EDID";
// The volatile subkey Plug and Play keeps for an instance that is there now.
inline constexpr const char* kControlKey = "Control";

// Opens the workstation's HKEY_LOCAL_MACHINE and lists the subkeys of the DISPLAY
// key. 0: *remoteRoot is open and belongs to the caller (close it with
// RegCloseKey after the last scan). -1: nothing is left open, *deviceIds is
// untouched and *errorText holds "Registry Open Error : Key=... Code=... Desc=...";
// so also when the connection failed while the identifiers were listed.
// The connect and every call through it keep within the deadline. On -1 the
// failure's code goes to *errorCode when one is given.
int ConnectRemoteRegistry(RegistryAccess& registry, const std::string& workstation,
                          RegKey* remoteRoot, std::vector<std::string>* deviceIds,
                          std::string* errorText, const Deadline& deadline = Deadline(),
                          long* errorCode = nullptr);

// ScanDisplayMonitors' result when the connection to the workstation failed
// part-way: the rows it had gathered are dropped, as they may be any part of
// the workstation's monitors, and *errorText says where it broke off.
inline constexpr int kScanConnectionLost = -2;

// Empties the table, then appends one row per instance key of the device
// identifier. -1 when the device key cannot be opened (*errorText names it);
// kScanConnectionLost when the connection failed before the scan was done.
int ScanDisplayMonitors(RegistryAccess& registry, RegKey remoteRoot, const std::string& deviceId,
                        MonitorTable& table, std::string* errorText);

struct ScanOptions {
  // Open each instance's "Control" subkey to tell present monitors from
  // ghosts: one more call per instance, so only when an output shows it.
  bool readPresence = false;
};
int ScanDisplayMonitors(RegistryAccess& registry, RegKey remoteRoot, const std::string& deviceId,
                        MonitorTable& table, std::string* errorText, const ScanOptions& options);

// Once all rows of a workstation are in: where the registry may lack the
// volatile keys and none of its instances had a Control key, a missing one
// says nothing, and every ghost becomes unknown.
void SettlePresence(const RegistryAccess& registry, std::vector<ReportedMonitor>& rows);

}  // namespace glimmora
