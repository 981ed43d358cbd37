// Off Windows the network registry is the Remote Registry protocol over SMB.
#include "inventory/registry_network.h"
#include "inventory/registry_rpc.h"
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
  rpcOptions.systemMessages = LocalSystemMessageText;
  return std::make_unique<RpcRegistryAccess>(std::move(credentials), std::move(rpcOptions));
}

bool NetworkKerberosTicketAvailable(const std::string& ccache, std::string* why) {
  return KerberosTicketAvailable(ccache, why);
}

}  // namespace glimmora
