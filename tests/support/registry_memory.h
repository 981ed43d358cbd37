#pragma once
// A registry held in memory, for tests: workstations, their keys and values,
// and failures planted where a test needs them.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <map>
#include <unordered_map>

#include "inventory/registry/registry_tree.h"

namespace glimmora {

// Failures planted on keys: opening a key, enumerating its index-th subkey,
// and querying one of its values (by folded name) give these codes.
struct PlantedFailures {
  std::unordered_map<const RegistryNode*, long> open;
  std::map<std::pair<const RegistryNode*, std::uint32_t>, long> enumeration;
  std::map<std::pair<const RegistryNode*, std::string>, long> query;
};

// The HKEY_LOCAL_MACHINE of one workstation.
class MemoryWorkstation {
 public:
  // Its failures go into `failures` (those of the registry it belongs to), or
  // into a table of its own.
  explicit MemoryWorkstation(PlantedFailures* failures = nullptr);
  MemoryWorkstation(const MemoryWorkstation&) = delete;
  MemoryWorkstation& operator=(const MemoryWorkstation&) = delete;

  // Paths are full paths below HKEY_LOCAL_MACHINE, backslash-separated, matched
  // without regard to case; missing parents are made on the way.
  MemoryWorkstation& AddKey(const std::string& path);
  MemoryWorkstation& SetValue(const std::string& keyPath, const std::string& name,
                              std::uint32_t type, std::vector<std::uint8_t> data);
  // REG_SZ, stored with its terminating zero.
  MemoryWorkstation& SetString(const std::string& keyPath, const std::string& name,
                               const std::string& text);
  // REG_MULTI_SZ: each text with its zero, and one more zero at the end.
  MemoryWorkstation& SetMultiString(const std::string& keyPath, const std::string& name,
                                    const std::vector<std::string>& texts);
  MemoryWorkstation& FailOpen(const std::string& keyPath, long code);
  MemoryWorkstation& FailEnum(const std::string& keyPath, std::uint32_t index, long code);
  MemoryWorkstation& FailQuery(const std::string& keyPath, const std::string& name, long code);

  // A display monitor instance under SYSTEM\CurrentControlSet\Enum\DISPLAY\<deviceId>\<instance>
  // with the strings Mfg, DeviceDesc, Class, HardwareID (a one-string REG_MULTI_SZ, as
  // Plug and Play writes it) and Device Parameters\EDID (no EDID value when edid is empty).
  MemoryWorkstation& AddMonitor(const std::string& deviceId, const std::string& instance,
                                const std::string& mfg, const std::string& description,
                                const std::string& deviceClass, const std::string& hardwareId,
                                std::vector<std::uint8_t> edid);

  std::shared_ptr<const RegistryNode> root() const { return root_; }

 private:
  RegistryNode& Key(const std::string& path);

  std::shared_ptr<RegistryNode> root_;
  PlantedFailures ownFailures_;
  PlantedFailures* failures_;
};

// Workstations set up by a test. Connecting to a name that was never added
// fails with kErrorBadNetPath (53); names match without regard to letter case.
// SystemMessageText gives the texts of our own table (as off Windows), in the
// language of the environment, on every platform, so tests read the same there.
class MemoryRegistry : public TreeRegistry {
 public:
  MemoryRegistry();
  ~MemoryRegistry() override;

  // The workstation of that name, added when it is new.
  MemoryWorkstation& AddWorkstation(const std::string& name);
  // Connecting to the name gives `code` (whether or not it was added).
  void FailConnect(const std::string& name, long code);

  // How many times RegConnectRegistryA was called, successful or not.
  std::size_t ConnectCount() const;

  std::string SystemMessageText(long code) override;

 protected:
  long ConnectTree(const std::string& machineName, std::shared_ptr<const RegistryNode>* root,
                   std::string* diagnostic) override;
  long OpenFailure(const RegistryNode& node) const override;
  long EnumFailure(const RegistryNode& node, std::uint32_t index) const override;
  long QueryFailure(const RegistryNode& node, std::string_view valueName) const override;

 private:
  struct Entry;
  Entry* FindEntry(const std::string& name) const;
  Entry& EntryFor(const std::string& name);

  // The failures of every workstation together: set up before the test's calls.
  PlantedFailures failures_;

  std::vector<std::unique_ptr<Entry>> workstations_;
  mutable std::mutex connectMutex_;
  std::size_t connectCount_ = 0;
};

}  // namespace glimmora
