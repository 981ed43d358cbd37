#include "inventory/win32/service_manager_win32.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "common/unique_handle.h"

namespace glimmora {

namespace {

struct ScHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CloseServiceHandle(h); }
};
using UniqueScHandle = UniqueHandle<ScHandleTraits>;

long LastError() {
  return static_cast<long>(::GetLastError());
}

ServiceStatus FromServiceStatus(DWORD state, DWORD waitHint, DWORD checkPoint) {
  ServiceStatus status;
  status.state = static_cast<ServiceState>(state);
  status.waitHintMs = waitHint;
  status.checkPoint = checkPoint;
  return status;
}

// The service's handle kept with the manager's it was opened through, which is
// closed after it.
class Win32ServiceHandle : public ServiceHandle {
 public:
  Win32ServiceHandle(UniqueScHandle manager, UniqueScHandle service)
      : manager_(std::move(manager)), service_(std::move(service)) {}

  long QueryStatus(ServiceStatus* status, const Deadline&) override {
    SERVICE_STATUS_PROCESS process{};
    DWORD needed = 0;
    if (!::QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&process), sizeof process, &needed))
      return LastError();
    *status = FromServiceStatus(process.dwCurrentState, process.dwWaitHint, process.dwCheckPoint);
    return ERROR_SUCCESS;
  }

  long QueryStartType(ServiceStartType* startType, const Deadline&) override {
    // Asks the size, then reads; a configuration that grows in between (a
    // longer path written meanwhile) is asked again.
    for (int attempt = 0; attempt < 8; ++attempt) {
      DWORD needed = 0;
      // No configuration fits in no bytes: a success here is not one.
      if (::QueryServiceConfigA(service_.get(), nullptr, 0, &needed)) return ERROR_INVALID_DATA;
      const DWORD code = ::GetLastError();
      if (code != ERROR_INSUFFICIENT_BUFFER) return static_cast<long>(code);
      // Whole QUERY_SERVICE_CONFIGA units, so that the structure at its head
      // is aligned as its pointers need.
      std::vector<QUERY_SERVICE_CONFIGA> config(needed / sizeof(QUERY_SERVICE_CONFIGA) + 1);
      const DWORD size = static_cast<DWORD>(config.size() * sizeof(QUERY_SERVICE_CONFIGA));
      if (::QueryServiceConfigA(service_.get(), config.data(), size, &needed)) {
        *startType = static_cast<ServiceStartType>(config.front().dwStartType);
        return ERROR_SUCCESS;
      }
      if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) return LastError();
    }
    return ERROR_INSUFFICIENT_BUFFER;
  }

  long ChangeStartType(ServiceStartType startType, const Deadline&) override {
    // Every other field, string or number, is left as it is.
    if (!::ChangeServiceConfigA(service_.get(), SERVICE_NO_CHANGE, static_cast<DWORD>(startType),
                                SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr))
      return LastError();
    return ERROR_SUCCESS;
  }

  long Start(const Deadline&) override {
    if (!::StartServiceA(service_.get(), 0, nullptr)) return LastError();
    return ERROR_SUCCESS;
  }

  long Stop(ServiceStatus* status, const Deadline&) override {
    SERVICE_STATUS answer{};
    if (::ControlService(service_.get(), SERVICE_CONTROL_STOP, &answer)) {
      *status = FromServiceStatus(answer.dwCurrentState, answer.dwWaitHint, answer.dwCheckPoint);
      return ERROR_SUCCESS;
    }
    const DWORD code = ::GetLastError();
    // The manager fills in the status for these refusals too: a service that
    // has stopped already, or one that takes no stop in its present state.
    if (code == ERROR_SERVICE_NOT_ACTIVE || code == ERROR_SERVICE_CANNOT_ACCEPT_CTRL ||
        code == ERROR_INVALID_SERVICE_CONTROL)
      *status = FromServiceStatus(answer.dwCurrentState, answer.dwWaitHint, answer.dwCheckPoint);
    return static_cast<long>(code);
  }

 private:
  UniqueScHandle manager_;
  UniqueScHandle service_;
};

}  // namespace

std::unique_ptr<ServiceHandle> Win32ServiceManager::OpenServiceHandle(
    const std::string& workstation, const std::string& service, const Deadline&, long* code) {
  UniqueScHandle manager(::OpenSCManagerA(workstation.empty() ? nullptr : workstation.c_str(),
                                          nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    *code = LastError();
    return nullptr;
  }
  constexpr DWORD kServiceAccess = SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG |
                                   SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;
  UniqueScHandle opened(::OpenServiceA(manager.get(), service.c_str(), kServiceAccess));
  if (!opened) {
    *code = LastError();
    return nullptr;
  }
  *code = ERROR_SUCCESS;
  return std::make_unique<Win32ServiceHandle>(std::move(manager), std::move(opened));
}

}  // namespace glimmora
