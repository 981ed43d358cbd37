// On Windows the network registry is advapi32's.
#include "inventory/registry/registry_network.h"
#include "inventory/win32/registry_win32.h"

namespace glimmora {

std::unique_ptr<RegistryAccess> CreateNetworkRegistry(const NetworkRegistryOptions&) {
  return std::make_unique<Win32Registry>();
}

// Windows logs on with the user's own session; no ticket cache is read.
bool NetworkKerberosTicketAvailable(const std::string&, std::string*) {
  return true;
}

}  // namespace glimmora
