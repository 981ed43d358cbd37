// The advapi32 service manager against Wine's own, with a service of the
// test's making (test_service_win32.cpp) created disabled for each test under
// a name of its own, and deleted when the test ends, passed or not. Wine has
// no Remote Registry service of its own to try it on; on Windows, creating
// the test's service takes an administrator.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/deadline.h"
#include "common/unique_handle.h"
#include "inventory/win32/service_manager_win32.h"

#include "tests/support/computer_name_win32.h"

namespace glimmora {

// Found by argument lookup in the interface's namespace: states and start
// types printed as the numbers the service manager gives.
static void PrintTo(ServiceState state, std::ostream* os) {
  *os << "state " << static_cast<std::uint32_t>(state);
}
static void PrintTo(ServiceStartType startType, std::ostream* os) {
  *os << "start type " << static_cast<std::uint32_t>(startType);
}

namespace {

using namespace std::chrono_literals;

struct ScHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::CloseServiceHandle(h); }
};
using UniqueScHandle = UniqueHandle<ScHandleTraits>;

constexpr auto kStateChangeLimit = 20s;

using testing::ComputerName;

// The test service, built beside this program.
std::string TestServicePath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string service(path, length);
  service.erase(service.find_last_of('\\') + 1);
  return service + "glimmora_test_service.exe";
}

// The fields of a service's configuration, strings copied out of the buffer.
struct ServiceConfig {
  DWORD serviceType = 0;
  DWORD startType = 0;
  DWORD errorControl = 0;
  std::string binaryPath;
  std::string loadOrderGroup;
  std::string startName;
  std::string displayName;

  bool operator==(const ServiceConfig&) const = default;
};

void PrintTo(const ServiceConfig& config, std::ostream* os) {
  *os << "{type " << config.serviceType << ", start " << config.startType << ", error control "
      << config.errorControl << ", path \"" << config.binaryPath << "\", group \""
      << config.loadOrderGroup << "\", account \"" << config.startName << "\", display \""
      << config.displayName << "\"}";
}

std::string Text(const char* text) {
  return text ? text : "";
}

// QueryServiceConfigA directly, not through the class under test.
bool QueryConfig(SC_HANDLE service, ServiceConfig* config) {
  DWORD needed = 0;
  QueryServiceConfigA(service, nullptr, 0, &needed);
  std::vector<QUERY_SERVICE_CONFIGA> buffer(needed / sizeof(QUERY_SERVICE_CONFIGA) + 1);
  if (!QueryServiceConfigA(service, buffer.data(),
                           static_cast<DWORD>(buffer.size() * sizeof buffer[0]), &needed))
    return false;
  const QUERY_SERVICE_CONFIGA& raw = buffer.front();
  config->serviceType = raw.dwServiceType;
  config->startType = raw.dwStartType;
  config->errorControl = raw.dwErrorControl;
  config->binaryPath = Text(raw.lpBinaryPathName);
  config->loadOrderGroup = Text(raw.lpLoadOrderGroup);
  config->startName = Text(raw.lpServiceStartName);
  config->displayName = Text(raw.lpDisplayName);
  return true;
}

// A disabled service of this test's own, deleted when the test ends. Anything
// but the start type differs from what a service is given when nothing is
// asked for, so that a change that reset a field would show.
class TestService {
 public:
  TestService() {
    name_ = "GlimmoraTestService" + std::to_string(GetCurrentProcessId());
    manager_.reset(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager_) {
      error_ = GetLastError();
      return;
    }
    const std::string command = "\"" + TestServicePath() + "\" --test-argument";
    // The display name is unique too: tests run side by side in processes of their own.
    const std::string displayName = "Glimmora test service " + name_;
    service_.reset(CreateServiceA(manager_.get(), name_.c_str(), displayName.c_str(),
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DISABLED,
                                  SERVICE_ERROR_SEVERE, command.c_str(), "GlimmoraTestGroup",
                                  nullptr, nullptr, nullptr, nullptr));
    if (!service_) error_ = GetLastError();
  }

  ~TestService() {
    if (!service_) return;
    // A test that failed half way may leave it running: stopped first, so
    // that the deletion is done when the handle closes, not at the next boot.
    SERVICE_STATUS status{};
    if (ControlService(service_.get(), SERVICE_CONTROL_STOP, &status)) {
      const auto until = std::chrono::steady_clock::now() + kStateChangeLimit;
      while (QueryServiceStatus(service_.get(), &status) &&
             status.dwCurrentState != SERVICE_STOPPED && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(DeleteService(service_.get())) << GetLastError();
  }

  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  DWORD error() const { return error_; }
  const std::string& name() const { return name_; }
  SC_HANDLE get() const { return service_.get(); }

 private:
  std::string name_;
  DWORD error_ = ERROR_SUCCESS;
  UniqueScHandle manager_;
  UniqueScHandle service_;
};

class Win32ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(GetFileAttributesA(TestServicePath().c_str()), INVALID_FILE_ATTRIBUTES)
        << TestServicePath();
    ASSERT_EQ(service_.error(), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(QueryConfig(service_.get(), &created_)) << GetLastError();
  }

  std::unique_ptr<ServiceHandle> Open(const std::string& workstation) {
    long code = -1;
    std::unique_ptr<ServiceHandle> handle =
        manager_.OpenServiceHandle(workstation, service_.name(), deadline_, &code);
    EXPECT_EQ(code, 0) << workstation;
    EXPECT_EQ(handle == nullptr, code != 0);
    return handle;
  }

  // Polls, as the program does, until the state is reached or the limit passes.
  ServiceStatus WaitFor(ServiceHandle& handle, ServiceState state) {
    ServiceStatus status;
    const auto until = std::chrono::steady_clock::now() + kStateChangeLimit;
    while (handle.QueryStatus(&status, deadline_) == 0 && status.state != state &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(50ms);
    return status;
  }

  TestService service_;
  ServiceConfig created_;
  Win32ServiceManager manager_;
  Deadline deadline_;
};

TEST_F(Win32ServiceManagerTest, StartsADisabledServiceAndPutsItBackAsItWas) {
  std::unique_ptr<ServiceHandle> handle = Open(ComputerName());
  ASSERT_NE(handle, nullptr);

  ServiceStatus status;
  ASSERT_EQ(handle->QueryStatus(&status, deadline_), 0);
  EXPECT_EQ(status.state, ServiceState::kStopped);
  ServiceStartType startType = ServiceStartType::kAutomatic;
  ASSERT_EQ(handle->QueryStartType(&startType, deadline_), 0);
  EXPECT_EQ(startType, ServiceStartType::kDisabled);

  ASSERT_EQ(handle->ChangeStartType(ServiceStartType::kManual, deadline_), 0);
  ASSERT_EQ(handle->QueryStartType(&startType, deadline_), 0);
  EXPECT_EQ(startType, ServiceStartType::kManual);
  ServiceConfig manual;
  ASSERT_TRUE(QueryConfig(service_.get(), &manual));
  EXPECT_EQ(manual.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
  manual.startType = created_.startType;
  EXPECT_EQ(manual, created_);  // only the start type changed

  ASSERT_EQ(handle->Start(deadline_), 0);
  status = WaitFor(*handle, ServiceState::kRunning);
  ASSERT_EQ(status.state, ServiceState::kRunning);
  // A service that runs cannot be started twice.
  EXPECT_EQ(handle->Start(deadline_), ERROR_SERVICE_ALREADY_RUNNING);

  ServiceStatus answer;
  ASSERT_EQ(handle->Stop(&answer, deadline_), 0);
  // The service answers the stop at once and stops a moment later.
  EXPECT_EQ(answer.state, ServiceState::kStopPending);
  EXPECT_GT(answer.waitHintMs, 0u);
  status = WaitFor(*handle, ServiceState::kStopped);
  ASSERT_EQ(status.state, ServiceState::kStopped);

  ASSERT_EQ(handle->ChangeStartType(ServiceStartType::kDisabled, deadline_), 0);
  ASSERT_EQ(handle->QueryStartType(&startType, deadline_), 0);
  EXPECT_EQ(startType, ServiceStartType::kDisabled);
  ServiceConfig restored;
  ASSERT_TRUE(QueryConfig(service_.get(), &restored));
  EXPECT_EQ(restored, created_);
  SERVICE_STATUS after{};
  ASSERT_TRUE(QueryServiceStatus(service_.get(), &after));
  EXPECT_EQ(after.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(Win32ServiceManagerTest, StartOfADisabledServiceIsRefused) {
  std::unique_ptr<ServiceHandle> handle = Open(ComputerName());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(handle->Start(deadline_), ERROR_SERVICE_DISABLED);
  ServiceStatus status;
  ASSERT_EQ(handle->QueryStatus(&status, deadline_), 0);
  EXPECT_EQ(status.state, ServiceState::kStopped);
}

TEST_F(Win32ServiceManagerTest, StopOfAStoppedServiceIsRefusedWithItsState) {
  std::unique_ptr<ServiceHandle> handle = Open(ComputerName());
  ASSERT_NE(handle, nullptr);
  ServiceStatus answer;
  answer.state = ServiceState::kRunning;
  EXPECT_EQ(handle->Stop(&answer, deadline_), ERROR_SERVICE_NOT_ACTIVE);
  EXPECT_EQ(answer.state, ServiceState::kStopped);
}

TEST_F(Win32ServiceManagerTest, AServiceThatDoesNotExistIsRefused) {
  long code = 0;
  const std::string missing = service_.name() + "Missing";
  EXPECT_EQ(manager_.OpenServiceHandle(ComputerName(), missing, deadline_, &code), nullptr);
  EXPECT_EQ(code, ERROR_SERVICE_DOES_NOT_EXIST);
}

// Wine takes "localhost" for this computer too.
TEST_F(Win32ServiceManagerTest, ThisComputerIsReachedByItsNameOrByNone) {
  for (const std::string& workstation :
       {std::string(), ComputerName(), "\\\\" + ComputerName(), std::string("localhost")}) {
    std::unique_ptr<ServiceHandle> handle = Open(workstation);
    ASSERT_NE(handle, nullptr) << workstation;
    ServiceStartType startType = ServiceStartType::kAutomatic;
    EXPECT_EQ(handle->QueryStartType(&startType, deadline_), 0) << workstation;
    EXPECT_EQ(startType, ServiceStartType::kDisabled) << workstation;
  }
}

}  // namespace
}  // namespace glimmora
