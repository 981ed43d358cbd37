// On Windows the network registry is advapi32's.
#include "inventory/registry_network.h"
#include "inventory/registry_win32.h"

namespace glimmora {

std::unique_ptr<RegistryAccess> CreateNetworkRegistry() {
  return std::make_unique<Win32Registry>();
}

}  // namespace glimmora
