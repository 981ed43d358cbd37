#pragma once
// A registry held in memory: the tree that the in-memory test registry and the
// offline exports are read from, and the RegistryAccess that serves any such tree.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "inventory/registry/registry_access.h"

namespace glimmora {

struct RegistryValue {
  std::string name;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// One key: its subkeys in the order they were added and its values. Names
// match without regard to letter case.
class RegistryNode {
 public:
  explicit RegistryNode(std::string name) : name_(std::move(name)) {}
  RegistryNode(const RegistryNode&) = delete;
  RegistryNode& operator=(const RegistryNode&) = delete;

  const std::string& name() const { return name_; }

  // The subkey of that name; nullptr when there is none.
  const RegistryNode* FindSubkey(std::string_view name) const;
  RegistryNode* FindSubkey(std::string_view name);
  // The subkey of that name, appended when it is new.
  RegistryNode& AddSubkey(std::string_view name);
  // Removes a subkey with everything below it. Removal leaves a gap that
  // Compact() closes, so that many removals stay cheap; enumerate only after it.
  void RemoveSubkey(std::string_view name);

  std::size_t SubkeyCount() const { return subkeys_.size(); }
  const RegistryNode& SubkeyAt(std::size_t index) const { return *subkeys_[index]; }

  const RegistryValue* FindValue(std::string_view name) const;
  // Adds the value or replaces the type and data of the one of that name.
  void SetValue(std::string_view name, std::uint32_t type, std::vector<std::uint8_t> data);
  void RemoveValue(std::string_view name);

  // Closes the gaps that removals left, in this key and every key below it.
  void Compact();

  // The form in which names are compared.
  static std::string Fold(std::string_view name);

 private:
  std::string name_;
  std::vector<std::unique_ptr<RegistryNode>> subkeys_;
  std::unordered_map<std::string, std::size_t> subkeyIndex_;  // folded name -> position
  std::vector<RegistryValue> values_;
  std::unordered_map<std::string, std::size_t> valueIndex_;
  bool hasGaps_ = false;
};

// Opens, enumerates and reads keys of RegistryNode trees. A derived class says
// which tree a workstation name connects to. After the trees are set up, calls
// from several threads are safe: the trees are only read, and the table of open
// keys is guarded.
class TreeRegistry : public RegistryAccess {
 public:
  long RegConnectRegistryA(const std::string& machineName, RegKey rootKey, RegKey* result) override;
  // A failure's description is the system's text with the diagnostic of
  // ConnectTree in parentheses, so that the message names the file and line.
  long ConnectWithin(const std::string& machineName, RegKey rootKey, const Deadline& deadline,
                     RegKey* result, std::string* description) override;
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t samDesired, RegKey* result) override;
  long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) override;
  long RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) override;
  long RegCloseKey(RegKey key) override;

  // Keys (connected roots included) open now.
  std::size_t OpenKeyCount() const;

 protected:
  // The root of the workstation's HKEY_LOCAL_MACHINE, or a failure code and,
  // in *diagnostic, what the source of the trees knows beyond it.
  virtual long ConnectTree(const std::string& machineName,
                           std::shared_ptr<const RegistryNode>* root, std::string* diagnostic) = 0;

  // A code that opening the key, enumerating its index-th subkey or querying
  // one of its values gives instead of the tree's answer; 0 for the answer.
  // A registry that serves its trees as they are keeps these.
  virtual long OpenFailure(const RegistryNode& /*node*/) const { return 0; }
  virtual long EnumFailure(const RegistryNode& /*node*/, std::uint32_t /*index*/) const {
    return 0;
  }
  virtual long QueryFailure(const RegistryNode& /*node*/, std::string_view /*valueName*/) const {
    return 0;
  }

 private:
  struct OpenKey {
    std::shared_ptr<const RegistryNode> root;  // keeps the tree alive while any key is open
    const RegistryNode* node = nullptr;
  };
  RegKey Register(OpenKey key);
  bool Lookup(RegKey key, OpenKey* found) const;

  mutable std::mutex mutex_;
  std::unordered_map<RegKey, OpenKey> openKeys_;
  RegKey nextKey_ = 0x1000;
};

}  // namespace glimmora
