#include "tests/support/registry_memory.h"

#include "common/ansi_text.h"
#include "inventory/registry/registry_scan.h"
#include "inventory/system_messages.h"

namespace glimmora {

MemoryWorkstation::MemoryWorkstation(PlantedFailures* failures)
    : root_(std::make_shared<RegistryNode>("")),
      failures_(failures != nullptr ? failures : &ownFailures_) {}

RegistryNode& MemoryWorkstation::Key(const std::string& path) {
  RegistryNode* node = root_.get();
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) node = &node->AddSubkey(std::string_view(path).substr(start, end - start));
    start = end + 1;
  }
  return *node;
}

MemoryWorkstation& MemoryWorkstation::AddKey(const std::string& path) {
  Key(path);
  return *this;
}

MemoryWorkstation& MemoryWorkstation::SetValue(const std::string& keyPath, const std::string& name,
                                               std::uint32_t type, std::vector<std::uint8_t> data) {
  Key(keyPath).SetValue(name, type, std::move(data));
  return *this;
}

MemoryWorkstation& MemoryWorkstation::SetString(const std::string& keyPath, const std::string& name,
                                                const std::string& text) {
  std::vector<std::uint8_t> data(text.begin(), text.end());
  data.push_back(0);
  return SetValue(keyPath, name, kRegSz, std::move(data));
}

MemoryWorkstation& MemoryWorkstation::SetMultiString(const std::string& keyPath,
                                                     const std::string& name,
                                                     const std::vector<std::string>& texts) {
  std::vector<std::uint8_t> data;
  for (const std::string& text : texts) {
    data.insert(data.end(), text.begin(), text.end());
    data.push_back(0);
  }
  data.push_back(0);
  return SetValue(keyPath, name, kRegMultiSz, std::move(data));
}

MemoryWorkstation& MemoryWorkstation::FailOpen(const std::string& keyPath, long code) {
  failures_->open[&Key(keyPath)] = code;
  return *this;
}

MemoryWorkstation& MemoryWorkstation::FailEnum(const std::string& keyPath, std::uint32_t index,
                                               long code) {
  failures_->enumeration[{&Key(keyPath), index}] = code;
  return *this;
}

MemoryWorkstation& MemoryWorkstation::FailQuery(const std::string& keyPath, const std::string& name,
                                                long code) {
  failures_->query[{&Key(keyPath), RegistryNode::Fold(name)}] = code;
  return *this;
}

MemoryWorkstation& MemoryWorkstation::AddMonitor(
    const std::string& deviceId, const std::string& instance, const std::string& mfg,
    const std::string& description, const std::string& deviceClass, const std::string& hardwareId,
    std::vector<std::uint8_t> edid) {
  const std::string instancePath = std::string(kDisplayEnumPath) + deviceId + "\\" + instance;
  SetString(instancePath, "Mfg", mfg);
  SetString(instancePath, "DeviceDesc", description);
  SetString(instancePath, "Class", deviceClass);
  SetMultiString(instancePath, "HardwareID", {hardwareId});
  const std::string parametersPath = instancePath + "\\Device Parameters";
  AddKey(parametersPath);
  if (!edid.empty()) SetValue(parametersPath, "EDID", kRegBinary, std::move(edid));
  return *this;
}

struct MemoryRegistry::Entry {
  Entry(std::string workstationName, PlantedFailures* failures)
      : name(std::move(workstationName)), workstation(failures) {}
  std::string name;
  MemoryWorkstation workstation;
  bool added = false;
  long connectFailure = 0;
};

MemoryRegistry::MemoryRegistry() = default;
MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Entry* MemoryRegistry::FindEntry(const std::string& name) const {
  for (const auto& entry : workstations_) {
    if (EqualNoCase(entry->name, name)) return entry.get();
  }
  return nullptr;
}

MemoryRegistry::Entry& MemoryRegistry::EntryFor(const std::string& name) {
  if (Entry* entry = FindEntry(name)) return *entry;
  workstations_.push_back(std::make_unique<Entry>(name, &failures_));
  return *workstations_.back();
}

MemoryWorkstation& MemoryRegistry::AddWorkstation(const std::string& name) {
  Entry& entry = EntryFor(name);
  entry.added = true;
  return entry.workstation;
}

void MemoryRegistry::FailConnect(const std::string& name, long code) {
  EntryFor(name).connectFailure = code;
}

std::size_t MemoryRegistry::ConnectCount() const {
  std::lock_guard<std::mutex> lock(connectMutex_);
  return connectCount_;
}

long MemoryRegistry::ConnectTree(const std::string& machineName,
                                 std::shared_ptr<const RegistryNode>* root,
                                 std::string* /*diagnostic*/) {
  {
    std::lock_guard<std::mutex> lock(connectMutex_);
    ++connectCount_;
  }
  const Entry* entry = FindEntry(machineName);
  if (entry != nullptr && entry->connectFailure != 0) return entry->connectFailure;
  if (entry == nullptr || !entry->added) return kErrorBadNetPath;
  *root = entry->workstation.root();
  return kErrorSuccess;
}

long MemoryRegistry::OpenFailure(const RegistryNode& node) const {
  const auto found = failures_.open.find(&node);
  return found == failures_.open.end() ? 0 : found->second;
}

long MemoryRegistry::EnumFailure(const RegistryNode& node, std::uint32_t index) const {
  const auto found = failures_.enumeration.find({&node, index});
  return found == failures_.enumeration.end() ? 0 : found->second;
}

long MemoryRegistry::QueryFailure(const RegistryNode& node, std::string_view valueName) const {
  if (failures_.query.empty()) return 0;
  const auto found = failures_.query.find({&node, RegistryNode::Fold(valueName)});
  return found == failures_.query.end() ? 0 : found->second;
}

std::string MemoryRegistry::SystemMessageText(long code) {
  return std::string(SystemMessageTableText(code, LanguageFromEnvironment()));
}

}  // namespace glimmora
