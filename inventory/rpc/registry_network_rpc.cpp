// Off Windows the network registry is the Remote Registry protocol over SMB.
#include <cstdlib>
#include <string>

#include "inventory/registry/registry_network.h"
#include "inventory/rpc/registry_rpc.h"
#include "inventory/system_messages.h"

namespace glimmora {

std::unique_ptr<RegistryAccess> CreateNetworkRegistry(const NetworkRegistryOptions& options) {
  RpcCredentials credentials;
  credentials.useKerberos = options.kerberos;
  credentials.ccache = options.ccache;
  credentials.username = options.username;
  credentials.domain = options.domain;
  credentials.password = options.password;
  RpcOptions rpcOptions;
  rpcOptions.connectTimeout = options.connectTimeout;
  rpcOptions.maxLogonFailures = options.maxLogonFailures;
  rpcOptions.readAheadPresence = options.readsPresence;
  rpcOptions.systemMessages = LocalSystemMessageText;
  // Diagnostics: GLIMMORA_RPC_CALL_BY_CALL=1 makes every registry function one
  // call, without the read-ahead; GLIMMORA_RPC_PIPES=N reads ahead over N pipes.
  if (const char* byCall = std::getenv("GLIMMORA_RPC_CALL_BY_CALL");
      byCall != nullptr && std::string(byCall) == "1") {
    rpcOptions.readAhead = false;
  }
  if (const char* pipes = std::getenv("GLIMMORA_RPC_PIPES"); pipes != nullptr) {
    const long count = std::strtol(pipes, nullptr, 10);
    if (count >= 1 && count <= 24) rpcOptions.pipes = static_cast<unsigned>(count);
  }
  return std::make_unique<RpcRegistryAccess>(std::move(credentials), std::move(rpcOptions));
}

bool NetworkKerberosTicketAvailable(const std::string& ccache, std::string* why) {
  return KerberosTicketAvailable(ccache, why);
}

}  // namespace glimmora
