#pragma once
// The service manager of a workstation, reached on the logon its registry is
// read with: enough of it to start the Remote Registry service that a client
// edition of Windows keeps disabled, and to put it back as it was. Advapi32
// serves it on Windows, the svcctl pipe of the registry's SMB session on
// Linux, and an in-memory service in tests. Every call returns a Windows
// error code, 0 when it succeeded.

#include <cstdint>
#include <memory>
#include <string>

#include "common/deadline.h"

namespace glimmora {

// The service the registry is read through.
inline constexpr const char* kRemoteRegistryService = "RemoteRegistry";

// Start types as the service manager keeps them (dwStartType).
enum class ServiceStartType : std::uint32_t {
  kBoot = 0,
  kSystem = 1,
  kAutomatic = 2,
  kManual = 3,
  kDisabled = 4,
};

// Current states (dwCurrentState).
enum class ServiceState : std::uint32_t {
  kStopped = 1,
  kStartPending = 2,
  kStopPending = 3,
  kRunning = 4,
  kContinuePending = 5,
  kPausePending = 6,
  kPaused = 7,
};

struct ServiceStatus {
  ServiceState state = ServiceState::kStopped;
  // How long the service expects its pending state to last, and its progress
  // (dwWaitHint, dwCheckPoint).
  std::uint32_t waitHintMs = 0;
  std::uint32_t checkPoint = 0;
};

// One service of one workstation, opened with the least rights the start and
// the restore need: the manager with SC_MANAGER_CONNECT, the service with
// SERVICE_QUERY_CONFIG, SERVICE_CHANGE_CONFIG, SERVICE_QUERY_STATUS,
// SERVICE_START and SERVICE_STOP. Every handle is closed when it goes.
class ServiceHandle {
 public:
  virtual ~ServiceHandle() = default;
  virtual long QueryStatus(ServiceStatus* status, const Deadline& deadline) = 0;
  virtual long QueryStartType(ServiceStartType* startType, const Deadline& deadline) = 0;
  // Changes the start type only; every other field of the configuration stays.
  virtual long ChangeStartType(ServiceStartType startType, const Deadline& deadline) = 0;
  virtual long Start(const Deadline& deadline) = 0;
  // Asks the service to stop (SERVICE_CONTROL_STOP); *status: what it answers.
  virtual long Stop(ServiceStatus* status, const Deadline& deadline) = 0;
};

// Opens the named service of the workstation; null with *code when the
// manager or the service cannot be opened (5: access denied).
class ServiceManagerAccess {
 public:
  virtual ~ServiceManagerAccess() = default;
  virtual std::unique_ptr<ServiceHandle> OpenServiceHandle(const std::string& workstation,
                                                           const std::string& service,
                                                           const Deadline& deadline,
                                                           long* code) = 0;
};

}  // namespace glimmora
