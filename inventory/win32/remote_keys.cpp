#include "inventory/win32/remote_keys.h"

namespace glimmora {

bool IsConnectionFailure(long code) {
  switch (code) {
    case kErrorBadNetPath:
    case 59:    // ERROR_UNEXP_NET_ERR
    case 64:    // ERROR_NETNAME_DELETED
    case 121:   // ERROR_SEM_TIMEOUT
    case 1231:  // ERROR_NETWORK_UNREACHABLE
    case 1232:  // ERROR_HOST_UNREACHABLE
    case 1236:  // ERROR_CONNECTION_ABORTED
    case 1722:  // RPC_S_SERVER_UNAVAILABLE
    case 1726:  // RPC_S_CALL_FAILED
    case 1727:  // RPC_S_CALL_FAILED_DNE
    case 1818:  // RPC_S_CALL_CANCELLED
    case 1820:  // RPC_S_COMM_FAILURE
      return true;
    default:
      return false;
  }
}

void RemoteKeys::AddConnection(RegKey root) {
  if (root == kNoKey) return;
  std::lock_guard lock(mutex_);
  keys_[root] = std::make_shared<Connection>();
}

void RemoteKeys::AddSubkey(RegKey parent, RegKey key) {
  if (key == kNoKey) return;
  std::lock_guard lock(mutex_);
  const auto found = keys_.find(parent);
  if (found != keys_.end())
    keys_[key] = found->second;
  else
    keys_.erase(key);  // a key of this computer's registry
}

void RemoteKeys::Remove(RegKey key) {
  std::lock_guard lock(mutex_);
  keys_.erase(key);
}

void RemoteKeys::CallFailed(RegKey key, long code) {
  if (!IsConnectionFailure(code)) return;
  std::lock_guard lock(mutex_);
  const auto found = keys_.find(key);
  if (found != keys_.end()) found->second->lost = true;
}

bool RemoteKeys::Lost(RegKey key) const {
  std::lock_guard lock(mutex_);
  const auto found = keys_.find(key);
  return found != keys_.end() && found->second->lost;
}

}  // namespace glimmora
