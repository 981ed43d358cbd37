#pragma once
// Which network connection each open key of a registry back end came through,
// and whether that connection has failed for good. A back end that hands out
// the system's own handles (advapi32) keeps this beside them, so that the scan
// can tell a workstation that went away from a key that is missing.

#include <memory>
#include <mutex>
#include <unordered_map>

#include "inventory/registry/registry_access.h"

namespace glimmora {

// Whether a registry call's code says the connection broke (the workstation
// went away, the link or the RPC session failed) rather than anything about
// the key or value asked for.
bool IsConnectionFailure(long code);

class RemoteKeys {
 public:
  // A key of a connection of its own: the root RegConnectRegistryA gave.
  void AddConnection(RegKey root);
  // A key opened below `parent`: it shares the parent's connection, if any.
  void AddSubkey(RegKey parent, RegKey key);
  // The key was closed; its handle value may come back for another key.
  void Remove(RegKey key);
  // A call on `key` returned `code`: a connection failure marks its connection.
  void CallFailed(RegKey key, long code);
  // Whether the connection `key` came through has failed; keys of no
  // connection (this computer's own registry) never have.
  bool Lost(RegKey key) const;

 private:
  struct Connection {
    bool lost = false;
  };
  mutable std::mutex mutex_;
  std::unordered_map<RegKey, std::shared_ptr<Connection>> keys_;
};

}  // namespace glimmora
