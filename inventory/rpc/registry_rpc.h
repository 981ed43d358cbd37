#pragma once
// Linux: a workstation's registry read over the Remote Registry protocol
// (winreg over the \PIPE\winreg named pipe of SMB, TCP port 445), with Samba's
// client libraries for transport and authentication and our own marshalling
// (winreg_messages.h) of the calls.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "inventory/registry/registry_access.h"
// The codes the back end answers beyond registry_access.h, and whether a
// credential cache can log on, for the back end's users.
#include "inventory/rpc/connect_failure.h"
#include "inventory/rpc/kerberos_cache.h"
#include "inventory/rpc/registry_snapshot.h"
#include "inventory/rpc/smb_session.h"
#include "inventory/rpc/winreg_connection.h"
#include "inventory/rpc/winreg_messages.h"

namespace glimmora {

// The pipes a read-ahead over a fast link starts with.
inline constexpr unsigned kFastLinkFirstPipes = 4;

struct RpcOptions {
  // The whole connect: name resolution aside, TCP, SMB session, pipe and bind.
  std::chrono::milliseconds connectTimeout{10000};
  // Each call once connected.
  std::chrono::seconds requestTimeout{30};
  // The named pipe of the service; tests name a missing one to stand for a
  // stopped service.
  std::string pipeName = "winreg";
  // The display subtree is read ahead when its key is opened, over this many
  // pipes of the session (fewer when the session's credits or the server
  // allow fewer), and the scan is served from what was read; off, every
  // registry function is one call, as a diagnostic.
  bool readAhead = true;
  unsigned pipes = 24;
  // A connect that took this long is over a slow link: every pipe opens at
  // once. Faster, the read-ahead starts on kFastLinkFirstPipes and widens.
  std::chrono::milliseconds slowConnect{40};
  // The read-ahead opens each instance's Control key too (whether the monitor
  // is present), in the wave of its other opens; without it a scan that asks
  // makes those calls one by one.
  bool readAheadPresence = false;
  // The extra pipes open this pipe instead (empty: pipeName); tests name one
  // the server refuses.
  std::string extraPipeName;
  // Base texts of Windows error codes; the back end adds its own hints.
  std::function<std::string(long)> systemMessages;
  // After this many logon failures in a row (connects of any thread), no
  // more logons are tried, so that a domain's lockout policy does not lock
  // the account; 0: never stop.
  int maxLogonFailures = 2;
  // How long a first open of the pipe that finds the service still starting
  // waits before the one more try.
  std::chrono::milliseconds serviceStartWait{1000};
};

class RpcRegistryAccess final : public RegistryAccess {
 public:
  RpcRegistryAccess(RpcCredentials credentials, RpcOptions options);
  ~RpcRegistryAccess() override;
  RpcRegistryAccess(const RpcRegistryAccess&) = delete;
  RpcRegistryAccess& operator=(const RpcRegistryAccess&) = delete;

  long RegConnectRegistryA(const std::string& machineName, RegKey rootKey, RegKey* result) override;
  // A failure's description adds a hint about the cause where the code alone
  // would not tell the user what to do (the Remote Registry service,
  // administrators only).
  long ConnectWithin(const std::string& machineName, RegKey rootKey, const Deadline& deadline,
                     RegKey* result, std::string* description) override;
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t samDesired, RegKey* result) override;
  long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) override;
  long RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) override;
  long RegCloseKey(RegKey key) override;
  std::string SystemMessageText(long code) override;
  bool ConnectionLost(RegKey key) override;
  // The pipes the connection of the key calls over now.
  unsigned PipeCount(RegKey key);
  bool LogonsStopped(std::string* account) const override;
  // The workstations' service manager over their svcctl pipe, on these
  // credentials and time-outs.
  ServiceManagerAccess* ServiceManager() override;

 private:
  static constexpr std::size_t kLiveKey = static_cast<std::size_t>(-1);
  struct KeyEntry {
    std::shared_ptr<WinregConnection> connection;
    winreg::KeyHandle handle;
    bool isRoot = false;
    std::size_t snapshotKey = kLiveKey;  // a key of the connection's snapshot
  };

  bool FindKey(RegKey key, KeyEntry* entry);
  RegKey AddKey(KeyEntry entry);

  const RpcOptions options_;
  // The sessions of every connection and of the service manager's pipes,
  // with the logon failures they count together.
  SmbPipeOpener pipes_;
  mutable std::mutex mutex_;  // guards keys_ and nextKey_
  std::unordered_map<RegKey, KeyEntry> keys_;
  RegKey nextKey_ = 0x1000;
  std::unique_ptr<ServiceManagerAccess> serviceManager_;
};

}  // namespace glimmora
