#include "inventory/rpc/service_manager_rpc.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <utility>

#include "inventory/registry/registry_access.h"
#include "inventory/rpc/connect_failure.h"
#include "inventory/rpc/pipe_call.h"
#include "inventory/rpc/registry_snapshot.h"
#include "inventory/rpc/rpc_pipe_samba.h"
#include "inventory/rpc/smb_session.h"
#include "inventory/rpc/svcctl_messages.h"

namespace glimmora {
namespace {

constexpr const char* kSvcctlPipe = "svcctl";
constexpr long kErrorInvalidParameter = 87;

class RpcServiceHandle final : public ServiceHandle {
 public:
  RpcServiceHandle(SmbPipeOpener& pipes, UniquePipe pipe)
      : pipes_(pipes), pipe_(std::move(pipe)), requestTimeoutS_(pipes.RequestTimeoutS()) {}

  // The server keeps its handles until the session ends; they are closed here
  // all the same, bounded by the call time-out alone (the examination's
  // deadline may have passed by now).
  ~RpcServiceHandle() override {
    pipes_.EndLoan(pipe_.get());
    for (const svcctl::ScHandle* handle : {&service_, &manager_}) {
      if (handle->IsNull()) continue;
      svcctl::Bytes response;
      Call(svcctl::kOpCloseServiceHandle, svcctl::EncodeCloseServiceHandle(*handle), Deadline(),
           &response);
    }
  }
  RpcServiceHandle(const RpcServiceHandle&) = delete;
  RpcServiceHandle& operator=(const RpcServiceHandle&) = delete;

  long OpenManager(const std::string& machineName, const Deadline& deadline) {
    svcctl::Bytes request;
    if (!svcctl::EncodeOpenScManager(machineName, svcctl::kScManagerConnect, &request))
      return kErrorInvalidName;
    return OpenHandle(svcctl::kOpOpenScManager, request, deadline, svcctl::ParseOpenScManager,
                      &manager_);
  }

  // The registry's pipe opens on this one's session while the handle lives.
  void LendSession(const std::string& workstation) { pipes_.LendSession(workstation, pipe_.get()); }

  long OpenNamed(const std::string& service, const Deadline& deadline) {
    svcctl::Bytes request;
    if (!svcctl::EncodeOpenService(manager_, service, svcctl::kServiceStartAndRestoreAccess,
                                   &request))
      return kErrorInvalidName;
    return OpenHandle(svcctl::kOpOpenService, request, deadline, svcctl::ParseOpenService,
                      &service_);
  }

  long QueryStatus(ServiceStatus* status, const Deadline& deadline) override {
    svcctl::Bytes response;
    long code = Call(svcctl::kOpQueryServiceStatus, svcctl::EncodeQueryServiceStatus(service_),
                     deadline, &response);
    svcctl::ServiceStatusResponse answer;
    if (code == kErrorSuccess && !svcctl::ParseQueryServiceStatus(response, &answer))
      code = kErrorBadStubData;
    if (code == kErrorSuccess) code = static_cast<long>(answer.status);
    if (code == kErrorSuccess) *status = answer.service;
    return code;
  }

  long QueryStartType(ServiceStartType* startType, const Deadline& deadline) override {
    // The largest buffer at once: a configuration that does not fit it is
    // one the protocol cannot carry anyway.
    svcctl::Bytes request;
    if (!svcctl::EncodeQueryServiceConfig(service_, svcctl::kMaxServiceConfigBytes, &request))
      return kErrorInvalidParameter;
    svcctl::Bytes response;
    long code = Call(svcctl::kOpQueryServiceConfig, request, deadline, &response);
    svcctl::ServiceConfigResponse answer;
    if (code == kErrorSuccess && !svcctl::ParseQueryServiceConfig(response, &answer))
      code = kErrorBadStubData;
    if (code == kErrorSuccess) code = static_cast<long>(answer.status);
    if (code == kErrorSuccess) *startType = answer.startType;
    return code;
  }

  long ChangeStartType(ServiceStartType startType, const Deadline& deadline) override {
    return StatusOnly(svcctl::kOpChangeServiceConfig,
                      svcctl::EncodeChangeStartType(service_, startType), deadline,
                      svcctl::ParseChangeServiceConfig);
  }

  long Start(const Deadline& deadline) override {
    return StatusOnly(svcctl::kOpStartService, svcctl::EncodeStartService(service_), deadline,
                      svcctl::ParseStartService);
  }

  long Stop(ServiceStatus* status, const Deadline& deadline) override {
    svcctl::Bytes response;
    long code = Call(svcctl::kOpControlService,
                     svcctl::EncodeControlService(service_, svcctl::kServiceControlStop), deadline,
                     &response);
    svcctl::ServiceStatusResponse answer;
    if (code == kErrorSuccess && !svcctl::ParseControlService(response, &answer))
      code = kErrorBadStubData;
    if (code != kErrorSuccess) return code;
    *status = answer.service;
    return static_cast<long>(answer.status);
  }

 private:
  using HandleParser = bool (*)(std::span<const std::uint8_t>, svcctl::HandleResponse*);
  using StatusParser = bool (*)(std::span<const std::uint8_t>, std::uint32_t*);

  long OpenHandle(std::uint16_t opnum, const svcctl::Bytes& request, const Deadline& deadline,
                  HandleParser parse, svcctl::ScHandle* handle) {
    svcctl::Bytes response;
    long code = Call(opnum, request, deadline, &response);
    svcctl::HandleResponse answer;
    if (code == kErrorSuccess && !parse(response, &answer)) code = kErrorBadStubData;
    if (code == kErrorSuccess) code = static_cast<long>(answer.status);
    // A server that says yes with a null handle has opened nothing.
    if (code == kErrorSuccess && answer.handle.IsNull()) code = kErrorBadStubData;
    if (code == kErrorSuccess) *handle = answer.handle;
    return code;
  }

  long StatusOnly(std::uint16_t opnum, const svcctl::Bytes& request, const Deadline& deadline,
                  StatusParser parse) {
    svcctl::Bytes response;
    long code = Call(opnum, request, deadline, &response);
    std::uint32_t status = 0;
    if (code == kErrorSuccess && !parse(response, &status)) code = kErrorBadStubData;
    return code == kErrorSuccess ? static_cast<long>(status) : code;
  }

  // One call within the deadline and the call time-out; a transport failure
  // gives its Windows code.
  long Call(std::uint16_t opnum, const svcctl::Bytes& request, const Deadline& deadline,
            svcctl::Bytes* response) {
    std::lock_guard lock(callMutex_);
    response->clear();
    const auto left = deadline.TimeLeftWithin(std::chrono::seconds(requestTimeoutS_));
    if (left.count() <= 0) return kErrorTimeout;
    const auto timeoutS =
        static_cast<unsigned>(std::chrono::ceil<std::chrono::seconds>(left).count());
    int bigEndian = 0;
    const std::uint32_t status =
        glimmora_rpc_call(pipe_.get(), opnum, request.data(), request.size(), timeoutS,
                          KeepResponse, response, &bigEndian);
    if (status != 0) return TransportCode(status);
    // Our parsers read little-endian; servers answer little-endian callers so.
    return bigEndian ? kErrorBadStubData : kErrorSuccess;
  }

  std::mutex callMutex_;  // one call at a time on the pipe
  SmbPipeOpener& pipes_;
  UniquePipe pipe_;
  const unsigned requestTimeoutS_;
  svcctl::ScHandle manager_;
  svcctl::ScHandle service_;
};

}  // namespace

RpcServiceManager::RpcServiceManager(SmbPipeOpener& pipes) : pipes_(pipes) {}

std::unique_ptr<ServiceHandle> RpcServiceManager::OpenServiceHandle(const std::string& workstation,
                                                                    const std::string& service,
                                                                    const Deadline& deadline,
                                                                    long* code) {
  UniquePipe pipe;
  std::string description;
  *code = pipes_.OpenPipeWithin(workstation, kSvcctlPipe, GLIMMORA_RPC_SVCCTL, deadline, &pipe,
                                &description);
  if (*code != kErrorSuccess) return nullptr;
  auto handle = std::make_unique<RpcServiceHandle>(pipes_, std::move(pipe));
  // The manager is asked for by the name the workstation was given, without
  // the backslashes: the pipe already says which machine it is.
  std::string machineName = workstation;
  if (machineName.rfind("\\\\", 0) == 0) machineName.erase(0, 2);
  *code = handle->OpenManager(machineName, deadline);
  if (*code == kErrorSuccess) *code = handle->OpenNamed(service, deadline);
  if (*code != kErrorSuccess) return nullptr;
  handle->LendSession(workstation);
  return handle;
}

}  // namespace glimmora
