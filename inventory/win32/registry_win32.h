#pragma once
// The registry of Windows itself through advapi32: a workstation's over the
// network, or this computer's when the name is its own.

#include "inventory/registry/registry_access.h"
#include "inventory/win32/remote_keys.h"
#include "inventory/win32/service_manager_win32.h"

namespace glimmora {

class Win32Registry : public RegistryAccess {
 public:
  long RegConnectRegistryA(const std::string& machineName, RegKey rootKey, RegKey* result) override;
  // RegConnectRegistryA has no time-out of its own and can wait for minutes on
  // a workstation whose port is filtered: under a deadline it is left to
  // finish on its own when the deadline comes, and the connect times out.
  long ConnectWithin(const std::string& machineName, RegKey rootKey, const Deadline& deadline,
                     RegKey* result, std::string* description) override;
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t samDesired, RegKey* result) override;
  long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) override;
  long RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) override;
  long RegCloseKey(RegKey key) override;
  // FormatMessageA's text in the user's default language, on one line.
  std::string SystemMessageText(long code) override;
  bool ConnectionLost(RegKey key) override;
  // The workstation's service manager, on the logon of the user who runs the program.
  ServiceManagerAccess* ServiceManager() override { return &services_; }

 private:
  long QueryValue(RegKey key, const std::string& valueName, std::uint32_t* type,
                  std::vector<std::uint8_t>* data);

  RemoteKeys remote_;
  Win32ServiceManager services_;
};

}  // namespace glimmora
