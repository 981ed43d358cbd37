#include "inventory/rpc/registry_rpc.h"

#include <iterator>
#include <utility>

#include "inventory/registry/registry_scan.h"
#include "inventory/rpc/connect_failure.h"
#include "inventory/rpc/rpc_pipe_samba.h"
#include "inventory/rpc/service_manager_rpc.h"

namespace glimmora {
namespace {

SmbSessionOptions SessionOptionsOf(const RpcOptions& options) {
  SmbSessionOptions session;
  session.connectTimeout = options.connectTimeout;
  session.requestTimeout = options.requestTimeout;
  session.serviceStartWait = options.serviceStartWait;
  session.maxLogonFailures = options.maxLogonFailures;
  session.systemMessages = options.systemMessages;
  return session;
}

}  // namespace

RpcRegistryAccess::RpcRegistryAccess(RpcCredentials credentials, RpcOptions options)
    : options_(std::move(options)),
      pipes_(std::move(credentials), SessionOptionsOf(options_)),
      serviceManager_(std::make_unique<RpcServiceManager>(pipes_)) {}

ServiceManagerAccess* RpcRegistryAccess::ServiceManager() {
  return serviceManager_.get();
}

RpcRegistryAccess::~RpcRegistryAccess() {
  // Keys still open are closed with their connections; the server drops its
  // handles with the session.
  std::lock_guard lock(mutex_);
  for (auto& [key, entry] : keys_) {
    if (entry.isRoot) entry.connection->Close();
  }
}

bool RpcRegistryAccess::ConnectionLost(RegKey key) {
  KeyEntry entry;
  return FindKey(key, &entry) && entry.connection->lost();
}

unsigned RpcRegistryAccess::PipeCount(RegKey key) {
  KeyEntry entry;
  return FindKey(key, &entry) ? static_cast<unsigned>(entry.connection->Width()) : 0;
}

bool RpcRegistryAccess::FindKey(RegKey key, KeyEntry* entry) {
  std::lock_guard lock(mutex_);
  const auto found = keys_.find(key);
  if (found == keys_.end()) return false;
  *entry = found->second;
  return true;
}

RegKey RpcRegistryAccess::AddKey(KeyEntry entry) {
  std::lock_guard lock(mutex_);
  RegKey key;
  do {
    key = nextKey_++;
  } while (key == kNoKey || key == kHkeyLocalMachine || keys_.count(key) != 0);
  keys_.emplace(key, std::move(entry));
  return key;
}

bool RpcRegistryAccess::LogonsStopped(std::string* account) const {
  return pipes_.LogonsStopped(account);
}

long RpcRegistryAccess::RegConnectRegistryA(const std::string& machineName, RegKey rootKey,
                                            RegKey* result) {
  std::string description;
  return ConnectWithin(machineName, rootKey, Deadline(), result, &description);
}

long RpcRegistryAccess::ConnectWithin(const std::string& machineName, RegKey rootKey,
                                      const Deadline& examination, RegKey* result,
                                      std::string* description) {
  *result = kNoKey;
  if (rootKey != kHkeyLocalMachine) {
    *description = SystemMessageText(kErrorNotSupported);
    return kErrorNotSupported;
  }
  UniquePipe pipe;
  const DeadlineClock::time_point connectStart = DeadlineClock::now();
  if (const long code = pipes_.OpenPipeWithin(machineName, options_.pipeName, GLIMMORA_RPC_WINREG,
                                              examination, &pipe, description);
      code != kErrorSuccess) {
    return code;
  }
  auto connection =
      std::make_shared<WinregConnection>(std::move(pipe), pipes_.RequestTimeoutS(), examination);
  // The extra pipes open while the first one opens the root and the display
  // key. Over a slow link (a connect is about seven round trips) a round trip
  // costs more than every pipe: all open now, ready for the first wide wave.
  // Over a fast one a pipe costs more than a round trip: a few open now, and
  // more as the read finds devices.
  if (options_.readAhead && options_.pipes > 1) {
    const bool slowLink = DeadlineClock::now() - connectStart >= options_.slowConnect;
    connection->StartExtraPipes(slowLink ? options_.pipes - 1 : kFastLinkFirstPipes - 1,
                                options_.pipes, options_.extraPipeName);
  }

  winreg::Bytes response;
  long code = connection->Call(winreg::kOpOpenLocalMachine,
                               winreg::EncodeOpenLocalMachine(kKeyRead), &response);
  winreg::HandleResponse opened_root;
  if (code == kErrorSuccess && !winreg::ParseOpenLocalMachine(response, &opened_root)) {
    code = kErrorBadStubData;
  }
  if (code == kErrorSuccess) code = static_cast<long>(opened_root.status);
  if (code != kErrorSuccess) {
    connection->Close();
    *description = DescribeFailure(SystemMessageText(code), code == kErrorAccessDenied
                                                                ? ConnectHint::kAdministratorsOnly
                                                                : ConnectHint::kNone);
    return code;
  }
  *result = AddKey(KeyEntry{std::move(connection), opened_root.handle, true});
  return kErrorSuccess;
}

long RpcRegistryAccess::RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                                      std::uint32_t samDesired, RegKey* result) {
  *result = kNoKey;
  KeyEntry parent;
  if (!FindKey(key, &parent)) return kErrorInvalidHandle;
  WinregConnection& connection = *parent.connection;
  // Opening the display key reads the subtree ahead, with the access the
  // scan asks for; everything the scan then opens from the root comes from it.
  if (parent.isRoot && options_.readAhead && subKey == kDisplayEnumPath && options == 0 &&
      samDesired == kKeyRead && !connection.Snapshot()) {
    // As for one call: with no time left nothing is sent, and the connection stays usable.
    if (connection.deadline().TimeLeftWithin(options_.requestTimeout).count() <= 0) {
      return kErrorTimeout;
    }
    auto snapshot = std::make_shared<const RegistrySnapshot>(ReadDisplaySubtree(
        connection, parent.handle, kMaxSnapshotSubkeys, options_.readAheadPresence));
    connection.KeepSnapshot(std::move(snapshot));
  }
  if (const auto snapshot = connection.Snapshot();
      snapshot && parent.isRoot && options == 0 && samDesired == kKeyRead) {
    if (long lost = 0; connection.Lost(&lost)) return lost;
    if (const auto found = snapshot->opens.find(subKey); found != snapshot->opens.end()) {
      if (found->second.code != kErrorSuccess) return found->second.code;
      const std::size_t index = found->second.key;
      *result = AddKey(KeyEntry{parent.connection, snapshot->keys[index].handle, false, index});
      return kErrorSuccess;
    }
    if (snapshot->breakCode != 0) {
      connection.MarkLost(snapshot->breakCode);
      return snapshot->breakCode;
    }
  }
  WinregCall call;
  call.opnum = winreg::kOpOpenKey;
  if (!winreg::EncodeOpenKey(parent.handle, subKey, options, samDesired, &call.request)) {
    return kErrorInvalidName;
  }
  call.transport = connection.Call(call.opnum, call.request, &call.response);
  winreg::KeyHandle handle;
  const long code = OpenKeyAnswer(call, &handle);
  if (code != kErrorSuccess) return code;
  *result = AddKey(KeyEntry{std::move(parent.connection), handle, false});
  return kErrorSuccess;
}

long RpcRegistryAccess::RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) {
  KeyEntry entry;
  if (!FindKey(key, &entry)) return kErrorInvalidHandle;
  WinregConnection& connection = *entry.connection;
  if (entry.snapshotKey != kLiveKey) {
    const auto snapshot = connection.Snapshot();
    const SnapshotKey& read = snapshot->keys[entry.snapshotKey];
    if (long lost = 0; connection.Lost(&lost)) return lost;
    if (index < read.subkeys.size()) {
      *name = read.subkeys[index];
      return kErrorSuccess;
    }
    if (index == read.subkeys.size() && read.enumComplete) return read.enumEnd;
    if (snapshot->breakCode != 0) {
      connection.MarkLost(snapshot->breakCode);
      return snapshot->breakCode;
    }
  }
  WinregCall call;
  call.opnum = winreg::kOpEnumKey;
  call.request = winreg::EncodeEnumKey(entry.handle, index);
  call.transport = connection.Call(call.opnum, call.request, &call.response);
  return EnumKeyAnswer(call, name);
}

long RpcRegistryAccess::RegQueryValueExA(RegKey key, const std::string& valueName,
                                         std::uint32_t* type, std::vector<std::uint8_t>* data) {
  KeyEntry entry;
  if (!FindKey(key, &entry)) return kErrorInvalidHandle;
  WinregConnection& connection = *entry.connection;
  if (entry.snapshotKey != kLiveKey) {
    const auto snapshot = connection.Snapshot();
    const SnapshotKey& read = snapshot->keys[entry.snapshotKey];
    if (long lost = 0; connection.Lost(&lost)) return lost;
    if (const auto found = read.values.find(valueName); found != read.values.end()) {
      if (found->second.code != kErrorSuccess) return found->second.code;
      *type = found->second.type;
      *data = found->second.data;
      return kErrorSuccess;
    }
    if (snapshot->breakCode != 0) {
      connection.MarkLost(snapshot->breakCode);
      return snapshot->breakCode;
    }
  }
  // Most values fit the first buffer; a longer one is asked for again with the
  // size the server names.
  std::uint32_t bufferBytes = kFirstValueBufferBytes;
  for (;;) {
    WinregCall call;
    call.opnum = winreg::kOpQueryValue;
    if (!winreg::EncodeQueryValue(entry.handle, valueName, bufferBytes, &call.request)) {
      return kErrorInvalidName;
    }
    call.transport = connection.Call(call.opnum, call.request, &call.response);
    const long code = QueryValueAnswer(call, bufferBytes, &bufferBytes, type, data);
    if (code != kQueryAgain) return code;
  }
}

long RpcRegistryAccess::RegCloseKey(RegKey key) {
  KeyEntry entry;
  {
    std::lock_guard lock(mutex_);
    const auto found = keys_.find(key);
    if (found == keys_.end()) return kErrorInvalidHandle;
    entry = std::move(found->second);
    keys_.erase(found);
    if (entry.isRoot) {
      // The connection goes with its root: the keys opened through it too.
      for (auto it = keys_.begin(); it != keys_.end();) {
        it = it->second.connection == entry.connection ? keys_.erase(it) : std::next(it);
      }
    }
  }
  if (entry.isRoot) {
    entry.connection->Close();
    return kErrorSuccess;
  }
  // The server's handles of the read-ahead go with the connection.
  if (entry.snapshotKey != kLiveKey) return kErrorSuccess;
  winreg::Bytes response;
  const long code =
      entry.connection->Call(winreg::kOpCloseKey, winreg::EncodeCloseKey(entry.handle), &response);
  if (code != kErrorSuccess) return code;
  winreg::HandleResponse closed;
  if (!winreg::ParseCloseKey(response, &closed)) return kErrorBadStubData;
  return static_cast<long>(closed.status);
}

std::string RpcRegistryAccess::SystemMessageText(long code) {
  return pipes_.SystemMessageText(code);
}

}  // namespace glimmora
