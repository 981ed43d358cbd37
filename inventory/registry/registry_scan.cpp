#include "inventory/registry/registry_scan.h"

#include <cstdio>
#include <memory>

#include "inventory/edid/edid.h"
#include "inventory/edid/edid_facts.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

// "Registry Open Error : Key=<key> Code=<code> Desc=<description>".
std::string RegistryOpenErrorText(const std::string& key, long code,
                                  const std::string& description) {
  const std::string title = LoadText(kTextRegistryOpenError);
  const char* format = "%s : Key=%s Code=%ld Desc=%s";
  const int length =
      std::snprintf(nullptr, 0, format, title.c_str(), key.c_str(), code, description.c_str());
  if (length <= 0) return title;
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, title.c_str(), key.c_str(), code,
                description.c_str());
  text.pop_back();
  return text;
}

std::string RegistryOpenErrorText(RegistryAccess& registry, const std::string& key, long code) {
  return RegistryOpenErrorText(key, code, registry.SystemMessageText(code));
}

// A value's data as text: up to its first zero byte, or all of it when it has
// none. The type is not looked at, so a multi-string gives its first string.
bool QueryText(RegistryAccess& registry, RegKey key, const char* valueName, std::string* text) {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  if (registry.RegQueryValueExA(key, valueName, &type, &data) != kErrorSuccess) return false;
  std::size_t length = 0;
  while (length < data.size() && data[length] != 0) ++length;
  text->assign(reinterpret_cast<const char*>(data.data()), length);
  return true;
}

std::string OrUnknown(std::string text) {
  return text.empty() ? std::string(kUnknown) : std::move(text);
}

void AppendUnknownEdidCells(MonitorTable& table) {
  for (auto* column :
       {&table.model, &table.serialNumber, &table.edidVersion, &table.mfgDate, &table.monitorSize})
    column->emplace_back(kUnknown);
}

// The Control key: there, not there (file not found), or not readable.
Presence ReadPresence(RegistryAccess& registry, RegKey remoteRoot,
                      const std::string& instanceKeyPath, long* failure) {
  RegKey control = kNoKey;
  const long code = registry.RegOpenKeyExA(remoteRoot, instanceKeyPath + "\\" + kControlKey, 0,
                                           kKeyRead, &control);
  if (code == kErrorSuccess) {
    registry.RegCloseKey(control);
    return Presence::kPresent;
  }
  if (code == kErrorFileNotFound) return Presence::kGhost;
  *failure = code;
  return Presence::kUnknown;
}

}  // namespace

int ConnectRemoteRegistry(RegistryAccess& registry, const std::string& workstation,
                          RegKey* remoteRoot, std::vector<std::string>* deviceIds,
                          std::string* errorText, const Deadline& deadline, long* errorCode) {
  long ignored = 0;
  long& code = errorCode != nullptr ? *errorCode : ignored;
  RegKey root = kNoKey;
  std::string description;
  code = registry.ConnectWithin(workstation, kHkeyLocalMachine, deadline, &root, &description);
  if (code != kErrorSuccess) {
    *errorText = RegistryOpenErrorText(workstation, code, description);
    return -1;
  }
  ScopedRegKey rootKey(registry, root);

  RegKey display = kNoKey;
  code = registry.RegOpenKeyExA(root, kDisplayEnumPath, 0, kKeyRead, &display);
  if (code != kErrorSuccess) {
    // The user asked about a workstation, so the message names it, not the key.
    *errorText = RegistryOpenErrorText(registry, workstation, code);
    return -1;
  }
  ScopedRegKey displayKey(registry, display);

  std::vector<std::string> names;
  std::string name;
  for (std::uint32_t index = 0;; ++index) {
    code = registry.RegEnumKeyExA(display, index, &name);
    if (code != kErrorSuccess) break;
    names.push_back(name);
  }
  // A list cut short by a lost connection is no list of the workstation's monitors.
  if (code != kErrorNoMoreItems && registry.ConnectionLost(root)) {
    *errorText = RegistryOpenErrorText(registry, workstation, code);
    return -1;
  }
  *deviceIds = std::move(names);
  *remoteRoot = rootKey.release();
  return 0;
}

int ScanDisplayMonitors(RegistryAccess& registry, RegKey remoteRoot, const std::string& deviceId,
                        MonitorTable& table, std::string* errorText) {
  return ScanDisplayMonitors(registry, remoteRoot, deviceId, table, errorText, ScanOptions{});
}

void SettlePresence(const RegistryAccess& registry, std::vector<ReportedMonitor>& rows) {
  if (!registry.MayLackVolatileKeys()) return;
  for (const ReportedMonitor& row : rows) {
    if (row.details.presence == Presence::kPresent) return;
  }
  for (ReportedMonitor& row : rows) {
    if (row.details.presence == Presence::kGhost) row.details.presence = Presence::kUnknown;
  }
}

int ScanDisplayMonitors(RegistryAccess& registry, RegKey remoteRoot, const std::string& deviceId,
                        MonitorTable& table, std::string* errorText, const ScanOptions& options) {
  table.Clear();
  const std::string deviceKeyPath = kDisplayEnumPath + deviceId;
  RegKey device = kNoKey;
  const long code = registry.RegOpenKeyExA(remoteRoot, deviceKeyPath, 0, kKeyRead, &device);
  if (code != kErrorSuccess) {
    *errorText = RegistryOpenErrorText(registry, deviceKeyPath, code);
    return registry.ConnectionLost(remoteRoot) ? kScanConnectionLost : -1;
  }
  ScopedRegKey deviceKey(registry, device);

  // A failed call ends an enumeration or leaves a cell unknown, which is right
  // for one odd key or value; a lost connection fails every call after it, and
  // the rows gathered so far would pass for all of the workstation's monitors.
  long lastFailure = kErrorSuccess;  // of the enumeration or an instance key

  std::string instance;
  for (std::uint32_t index = 0;; ++index) {
    if (const long failure = registry.RegEnumKeyExA(device, index, &instance);
        failure != kErrorSuccess) {
      if (failure != kErrorNoMoreItems) lastFailure = failure;
      break;
    }
    // Every key is opened by its full path from the root.
    const std::string instanceKeyPath = deviceKeyPath + "\\" + instance;
    RegKey instanceHandle = kNoKey;
    if (const long failure =
            registry.RegOpenKeyExA(remoteRoot, instanceKeyPath, 0, kKeyRead, &instanceHandle);
        failure != kErrorSuccess) {
      lastFailure = failure;
      if (registry.ConnectionLost(remoteRoot)) break;
      continue;  // an instance that cannot be opened yields no row
    }

    {
      ScopedRegKey instanceKey(registry, instanceHandle);
      std::vector<std::string>* columns[] = {&table.mfg, &table.description, &table.deviceClass,
                                             &table.hardwareId};
      for (std::size_t i = 0; i < 4; ++i) {
        std::string text;
        if (!QueryText(registry, instanceHandle, kInstanceValueNames[i], &text))
          text = std::string(kUnknown);
        columns[i]->push_back(std::move(text));
      }
    }
    MonitorDetails& details = table.details.emplace_back();
    if (options.readPresence) {
      details.presence = ReadPresence(registry, remoteRoot, instanceKeyPath, &lastFailure);
      if (details.presence == Presence::kUnknown && registry.ConnectionLost(remoteRoot)) break;
    }

    RegKey parameters = kNoKey;
    if (registry.RegOpenKeyExA(remoteRoot, instanceKeyPath + "\\" + kDeviceParametersKey, 0,
                               kKeyRead, &parameters) != kErrorSuccess) {
      AppendUnknownEdidCells(table);
      continue;
    }
    ScopedRegKey parametersKey(registry, parameters);
    std::uint32_t type = 0;
    std::vector<std::uint8_t> edid;
    // The whole value is read, whatever its length: blocks with extensions are
    // 256, 384 or 512 bytes long, and the decoder takes the base block of them.
    if (registry.RegQueryValueExA(parameters, kEdidValueName, &type, &edid) != kErrorSuccess) {
      AppendUnknownEdidCells(table);
      continue;
    }
    EdidFields fields = DecodeEdid(edid);
    details.facts = std::make_shared<const EdidFacts>(ReadEdidFacts(edid));
    details.edid = std::move(edid);
    table.model.push_back(OrUnknown(std::move(fields.model)));
    table.serialNumber.push_back(OrUnknown(std::move(fields.serialNumber)));
    table.edidVersion.push_back(OrUnknown(std::move(fields.edidVersion)));
    table.mfgDate.push_back(OrUnknown(std::move(fields.mfgDate)));
    table.monitorSize.push_back(OrUnknown(std::move(fields.monitorSize)));
  }
  if (lastFailure != kErrorSuccess && registry.ConnectionLost(remoteRoot)) {
    table.Clear();
    *errorText = RegistryOpenErrorText(registry, deviceKeyPath, lastFailure);
    return kScanConnectionLost;
  }
  return 0;
}

}  // namespace glimmora
