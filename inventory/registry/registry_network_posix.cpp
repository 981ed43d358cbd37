// Off Windows without Samba's client libraries at build time there is no
// network registry: every connect fails with ERROR_NOT_SUPPORTED and its
// text, so a check reports it like any other workstation whose registry
// cannot be opened. (With them, registry_network_rpc.cpp stands here.)
#include "inventory/registry/registry_network.h"
#include "inventory/system_messages.h"

namespace glimmora {

namespace {

class UnsupportedNetworkRegistry : public RegistryAccess {
 public:
  long RegConnectRegistryA(const std::string&, RegKey, RegKey* result) override {
    *result = kNoKey;
    return kErrorNotSupported;
  }
  long RegOpenKeyExA(RegKey, const std::string&, std::uint32_t, std::uint32_t,
                     RegKey* result) override {
    *result = kNoKey;
    return kErrorInvalidHandle;
  }
  long RegEnumKeyExA(RegKey, std::uint32_t, std::string*) override { return kErrorInvalidHandle; }
  long RegQueryValueExA(RegKey, const std::string&, std::uint32_t*,
                        std::vector<std::uint8_t>*) override {
    return kErrorInvalidHandle;
  }
  long RegCloseKey(RegKey) override { return kErrorInvalidHandle; }
  std::string SystemMessageText(long code) override { return LocalSystemMessageText(code); }
};

}  // namespace

std::unique_ptr<RegistryAccess> CreateNetworkRegistry(const NetworkRegistryOptions&) {
  return std::make_unique<UnsupportedNetworkRegistry>();
}

bool NetworkKerberosTicketAvailable(const std::string&, std::string* why) {
  if (why != nullptr) *why = "this build has no network registry";
  return false;
}

}  // namespace glimmora
