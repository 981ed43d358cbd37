#pragma once
// The registry back end that reaches workstations over the network on this
// platform. The one place that chooses it, so that another can be put in.

#include <memory>

#include "inventory/registry_access.h"

namespace glimmora {

std::unique_ptr<RegistryAccess> CreateNetworkRegistry();

}  // namespace glimmora
