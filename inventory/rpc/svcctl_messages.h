#pragma once
// The stub data of the service manager (svcctl) calls that start a
// workstation's Remote Registry service and put it back, in NDR with
// little-endian integers: requests built byte for byte, responses parsed with
// every count, offset and pointer checked. No transport here: the bytes go
// over the svcctl pipe of the session the registry is read on.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/registry/service_manager.h"

namespace glimmora::svcctl {

using Bytes = std::vector<std::uint8_t>;

// Operation numbers of the svcctl interface.
inline constexpr std::uint16_t kOpCloseServiceHandle = 0;
inline constexpr std::uint16_t kOpControlService = 1;
inline constexpr std::uint16_t kOpQueryServiceStatus = 6;
inline constexpr std::uint16_t kOpChangeServiceConfig = 11;
inline constexpr std::uint16_t kOpOpenScManager = 15;
inline constexpr std::uint16_t kOpOpenService = 16;
inline constexpr std::uint16_t kOpQueryServiceConfig = 17;
inline constexpr std::uint16_t kOpStartService = 19;

// Access rights. The manager is only connected to; the service is opened
// with what reading, changing, starting and stopping it takes, and no more.
inline constexpr std::uint32_t kScManagerConnect = 0x0001;
inline constexpr std::uint32_t kServiceQueryConfig = 0x0001;
inline constexpr std::uint32_t kServiceChangeConfig = 0x0002;
inline constexpr std::uint32_t kServiceQueryStatus = 0x0004;
inline constexpr std::uint32_t kServiceStart = 0x0010;
inline constexpr std::uint32_t kServiceStop = 0x0020;
inline constexpr std::uint32_t kServiceStartAndRestoreAccess =
    kServiceQueryConfig | kServiceChangeConfig | kServiceQueryStatus | kServiceStart | kServiceStop;

// A configuration field left as it is.
inline constexpr std::uint32_t kServiceNoChange = 0xFFFFFFFF;
inline constexpr std::uint32_t kServiceControlStop = 1;

// The largest configuration buffer a client may offer, and the answer when
// the one offered is too small (pcbBytesNeeded then says how much is needed).
inline constexpr std::uint32_t kMaxServiceConfigBytes = 8192;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;

// Longest names the protocol carries, in UTF-16 code units with the zero.
inline constexpr std::size_t kMaxMachineNameUnits = 1024;
inline constexpr std::size_t kMaxServiceNameUnits = 257;

// The server's opaque handle of the manager or a service: a 20-byte context handle.
struct ScHandle {
  std::array<std::uint8_t, 20> bytes{};
  bool IsNull() const;
  friend bool operator==(const ScHandle&, const ScHandle&) = default;
};

// Requests. A name that cannot be sent (not valid UTF-8, a zero inside,
// longer than the protocol allows) or a buffer over the limit gives false.
// An empty machine name goes out as a null pointer: the pipe already names
// the machine.
bool EncodeOpenScManager(std::string_view utf8MachineName, std::uint32_t accessMask,
                         Bytes* request);
bool EncodeOpenService(const ScHandle& manager, std::string_view utf8ServiceName,
                       std::uint32_t accessMask, Bytes* request);
Bytes EncodeQueryServiceStatus(const ScHandle& service);
bool EncodeQueryServiceConfig(const ScHandle& service, std::uint32_t bufferBytes, Bytes* request);
// Changes the start type alone: every other field is "no change" or absent.
Bytes EncodeChangeStartType(const ScHandle& service, ServiceStartType startType);
// Starts the service without arguments.
Bytes EncodeStartService(const ScHandle& service);
Bytes EncodeControlService(const ScHandle& service, std::uint32_t control);
Bytes EncodeCloseServiceHandle(const ScHandle& handle);

// Responses. Each parser returns false when the bytes are not a well-formed
// response (cut short, counts past the end or over the protocol's bounds, a
// state or start type the protocol does not have in a successful answer,
// bytes left over); then the output holds nothing useful. `status` is the
// Windows error code the server answered.
struct HandleResponse {
  ScHandle handle;
  std::uint32_t status = 0;
};
bool ParseOpenScManager(std::span<const std::uint8_t> stub, HandleResponse* response);
bool ParseOpenService(std::span<const std::uint8_t> stub, HandleResponse* response);
bool ParseCloseServiceHandle(std::span<const std::uint8_t> stub, HandleResponse* response);

// SERVICE_STATUS. A failed call may answer an all-zero record; a state that
// is none of ServiceState's then leaves `service.state` at its default.
struct ServiceStatusResponse {
  ServiceStatus service;  // dwCurrentState, dwWaitHint, dwCheckPoint
  std::uint32_t serviceType = 0;
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t status = 0;
};
bool ParseQueryServiceStatus(std::span<const std::uint8_t> stub, ServiceStatusResponse* response);
bool ParseControlService(std::span<const std::uint8_t> stub, ServiceStatusResponse* response);

// QUERY_SERVICE_CONFIGW. The strings are as sent, without their terminating
// zero (the dependencies keep the zeros between their names). On
// kErrorInsufficientBuffer only `bytesNeeded` and `status` mean anything.
struct ServiceConfigResponse {
  std::uint32_t serviceType = 0;
  ServiceStartType startType = ServiceStartType::kBoot;
  std::uint32_t errorControl = 0;
  std::u16string binaryPathName;
  std::u16string loadOrderGroup;
  std::uint32_t tagId = 0;
  std::u16string dependencies;
  std::u16string serviceStartName;
  std::u16string displayName;
  std::uint32_t bytesNeeded = 0;
  std::uint32_t status = 0;
};
bool ParseQueryServiceConfig(std::span<const std::uint8_t> stub, ServiceConfigResponse* response);

// The calls that answer only their error code.
bool ParseChangeServiceConfig(std::span<const std::uint8_t> stub, std::uint32_t* status);
bool ParseStartService(std::span<const std::uint8_t> stub, std::uint32_t* status);

}  // namespace glimmora::svcctl
