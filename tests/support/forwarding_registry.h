#pragma once
// A registry that hands every call to another one: the base of the test
// registries that watch, slow down or break a few of the calls and pass the
// rest on unchanged.

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/registry/registry_access.h"

namespace glimmora::testing {

class ForwardingRegistry : public RegistryAccess {
 public:
  explicit ForwardingRegistry(RegistryAccess& inner) : inner_(inner) {}

  long RegConnectRegistryA(const std::string& machine, RegKey root, RegKey* result) override {
    return inner_.RegConnectRegistryA(machine, root, result);
  }
  long ConnectWithin(const std::string& machine, RegKey root, const Deadline& deadline,
                     RegKey* result, std::string* description) override {
    return inner_.ConnectWithin(machine, root, deadline, result, description);
  }
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t sam, RegKey* result) override {
    return inner_.RegOpenKeyExA(key, subKey, options, sam, result);
  }
  long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) override {
    return inner_.RegEnumKeyExA(key, index, name);
  }
  long RegQueryValueExA(RegKey key, const std::string& value, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) override {
    return inner_.RegQueryValueExA(key, value, type, data);
  }
  long RegCloseKey(RegKey key) override { return inner_.RegCloseKey(key); }
  std::string SystemMessageText(long code) override { return inner_.SystemMessageText(code); }
  bool ConnectionLost(RegKey key) override { return inner_.ConnectionLost(key); }
  bool MayLackVolatileKeys() const override { return inner_.MayLackVolatileKeys(); }

 private:
  RegistryAccess& inner_;
};

}  // namespace glimmora::testing
