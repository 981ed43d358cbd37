#pragma once
// Linux: a workstation's service manager over the svcctl pipe of SMB, opened
// with the registry back end's credentials and time-outs; the calls are our
// own marshalling (svcctl_messages.h).

#include <memory>
#include <string>

#include "inventory/registry/service_manager.h"

namespace glimmora {

class SmbPipeOpener;

class RpcServiceManager final : public ServiceManagerAccess {
 public:
  // `pipes` opens the pipes and must outlive this; the handles it gives out
  // own their pipes and may outlive both.
  explicit RpcServiceManager(SmbPipeOpener& pipes);

  // Each service opens a session and pipe of its own: a workstation whose
  // registry does not open has no session to share.
  std::unique_ptr<ServiceHandle> OpenServiceHandle(const std::string& workstation,
                                                   const std::string& service,
                                                   const Deadline& deadline, long* code) override;

 private:
  SmbPipeOpener& pipes_;
};

}  // namespace glimmora
