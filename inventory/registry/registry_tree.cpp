#include "inventory/registry/registry_tree.h"

#include "common/ansi_text.h"

namespace glimmora {

std::string RegistryNode::Fold(std::string_view name) {
  return ToUpperAnsi(name);
}

const RegistryNode* RegistryNode::FindSubkey(std::string_view name) const {
  const auto found = subkeyIndex_.find(Fold(name));
  return found == subkeyIndex_.end() ? nullptr : subkeys_[found->second].get();
}

RegistryNode* RegistryNode::FindSubkey(std::string_view name) {
  return const_cast<RegistryNode*>(std::as_const(*this).FindSubkey(name));
}

RegistryNode& RegistryNode::AddSubkey(std::string_view name) {
  auto [position, added] = subkeyIndex_.try_emplace(Fold(name), subkeys_.size());
  if (added) subkeys_.push_back(std::make_unique<RegistryNode>(std::string(name)));
  return *subkeys_[position->second];
}

void RegistryNode::RemoveSubkey(std::string_view name) {
  const auto found = subkeyIndex_.find(Fold(name));
  if (found == subkeyIndex_.end()) return;
  subkeys_[found->second].reset();
  subkeyIndex_.erase(found);
  hasGaps_ = true;
}

const RegistryValue* RegistryNode::FindValue(std::string_view name) const {
  const auto found = valueIndex_.find(Fold(name));
  return found == valueIndex_.end() ? nullptr : &values_[found->second];
}

void RegistryNode::SetValue(std::string_view name, std::uint32_t type,
                            std::vector<std::uint8_t> data) {
  auto [position, added] = valueIndex_.try_emplace(Fold(name), values_.size());
  if (added) values_.push_back(RegistryValue{std::string(name), 0, {}});
  RegistryValue& value = values_[position->second];
  value.type = type;
  value.data = std::move(data);
}

void RegistryNode::RemoveValue(std::string_view name) {
  const auto found = valueIndex_.find(Fold(name));
  if (found == valueIndex_.end()) return;
  // Values have no order that anyone sees: the last one fills the gap.
  const std::size_t position = found->second;
  valueIndex_.erase(found);
  if (position + 1 != values_.size()) {
    values_[position] = std::move(values_.back());
    valueIndex_[Fold(values_[position].name)] = position;
  }
  values_.pop_back();
}

void RegistryNode::Compact() {
  if (hasGaps_) {
    std::vector<std::unique_ptr<RegistryNode>> kept;
    kept.reserve(subkeyIndex_.size());
    for (auto& subkey : subkeys_) {
      if (subkey) kept.push_back(std::move(subkey));
    }
    subkeys_ = std::move(kept);
    for (std::size_t i = 0; i < subkeys_.size(); ++i) subkeyIndex_[Fold(subkeys_[i]->name())] = i;
    hasGaps_ = false;
  }
  // Key depth is bounded by whoever builds the tree (the export parser allows 512).
  for (auto& subkey : subkeys_) subkey->Compact();
}

namespace {

// Follows a backslash-separated path down from `node`. One final backslash is
// allowed, as the registry allows it; an empty name anywhere else is not found.
const RegistryNode* FindPath(const RegistryNode& node, std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  const RegistryNode* current = &node;
  if (path.empty()) return current;
  std::size_t start = 0;
  while (current != nullptr) {
    const std::size_t end = path.find('\\', start);
    const std::string_view name =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (name.empty()) return nullptr;
    current = current->FindSubkey(name);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return current;
}

}  // namespace

RegKey TreeRegistry::Register(OpenKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  RegKey handle = nextKey_++;
  // Never hand out a value that means "no key" or a predefined root.
  if (handle == kHkeyLocalMachine) handle = nextKey_++;
  openKeys_.emplace(handle, std::move(key));
  return handle;
}

bool TreeRegistry::Lookup(RegKey key, OpenKey* found) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto entry = openKeys_.find(key);
  if (entry == openKeys_.end()) return false;
  *found = entry->second;
  return true;
}

long TreeRegistry::RegConnectRegistryA(const std::string& machineName, RegKey rootKey,
                                       RegKey* result) {
  std::string description;
  return ConnectWithin(machineName, rootKey, Deadline(), result, &description);
}

long TreeRegistry::ConnectWithin(const std::string& machineName, RegKey rootKey,
                                 const Deadline& /*deadline*/, RegKey* result,
                                 std::string* description) {
  *result = kNoKey;
  std::shared_ptr<const RegistryNode> root;
  std::string diagnostic;
  const long code = rootKey == kHkeyLocalMachine ? ConnectTree(machineName, &root, &diagnostic)
                                                 : kErrorInvalidHandle;
  if (code != kErrorSuccess) {
    *description = SystemMessageText(code);
    if (!diagnostic.empty()) *description += (description->empty() ? "(" : " (") + diagnostic + ")";
    return code;
  }
  const RegistryNode* node = root.get();
  *result = Register(OpenKey{std::move(root), node});
  return kErrorSuccess;
}

long TreeRegistry::RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t /*options*/,
                                 std::uint32_t /*samDesired*/, RegKey* result) {
  *result = kNoKey;
  OpenKey parent;
  if (!Lookup(key, &parent)) return kErrorInvalidHandle;
  const RegistryNode* node = FindPath(*parent.node, subKey);
  if (node == nullptr) return kErrorFileNotFound;
  if (const long failure = OpenFailure(*node); failure != 0) return failure;
  *result = Register(OpenKey{std::move(parent.root), node});
  return kErrorSuccess;
}

long TreeRegistry::RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) {
  OpenKey open;
  if (!Lookup(key, &open)) return kErrorInvalidHandle;
  if (const long failure = EnumFailure(*open.node, index); failure != 0) return failure;
  if (index >= open.node->SubkeyCount()) return kErrorNoMoreItems;
  const std::string& subkey = open.node->SubkeyAt(index).name();
  if (subkey.size() > kMaxKeyNameLength) return kErrorMoreData;
  *name = subkey;
  return kErrorSuccess;
}

long TreeRegistry::RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t* type,
                                    std::vector<std::uint8_t>* data) {
  OpenKey open;
  if (!Lookup(key, &open)) return kErrorInvalidHandle;
  if (const long failure = QueryFailure(*open.node, valueName); failure != 0) return failure;
  const RegistryValue* value = open.node->FindValue(valueName);
  if (value == nullptr) return kErrorFileNotFound;
  *type = value->type;
  *data = value->data;
  return kErrorSuccess;
}

long TreeRegistry::RegCloseKey(RegKey key) {
  OpenKey closed;  // the last key of a tree frees the tree here, outside the lock
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = openKeys_.find(key);
    if (entry == openKeys_.end()) return kErrorInvalidHandle;
    closed = std::move(entry->second);
    openKeys_.erase(entry);
  }
  return kErrorSuccess;
}

std::size_t TreeRegistry::OpenKeyCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return openKeys_.size();
}

}  // namespace glimmora
