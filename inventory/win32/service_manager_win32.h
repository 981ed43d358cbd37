#pragma once
// The service manager of Windows itself through advapi32: a workstation's over
// the network, or this computer's when the name is empty or its own.

#include <memory>
#include <string>

#include "inventory/registry/service_manager.h"

namespace glimmora {

// Advapi32's service calls take no time-out and none can be bounded from
// outside without leaving a handle in use on another thread: every call here
// waits as long as the service manager takes, and the deadline is left to the
// caller, which polls the service's state within it.
class Win32ServiceManager : public ServiceManagerAccess {
 public:
  // The workstation as "NAME" or "\\NAME"; empty for this computer.
  std::unique_ptr<ServiceHandle> OpenServiceHandle(const std::string& workstation,
                                                   const std::string& service,
                                                   const Deadline& deadline, long* code) override;
};

}  // namespace glimmora
