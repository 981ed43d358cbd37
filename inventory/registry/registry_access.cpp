#include "inventory/registry/registry_access.h"

namespace glimmora {

long RegistryAccess::ConnectWithin(const std::string& machineName, RegKey rootKey,
                                   const Deadline& /*deadline*/, RegKey* result,
                                   std::string* description) {
  const long code = RegConnectRegistryA(machineName, rootKey, result);
  if (code != kErrorSuccess) *description = SystemMessageText(code);
  return code;
}

}  // namespace glimmora
