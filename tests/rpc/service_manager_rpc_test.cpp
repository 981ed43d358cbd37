// The service manager over the svcctl pipe, against the loopback Samba server
// (scripts/samba-test-server): its Remote Registry service always runs and
// refuses to be started, stopped or reconfigured.
#include "inventory/rpc/service_manager_rpc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "inventory/registry/examination.h"
#include "inventory/registry/service_start.h"
#include "inventory/rpc/registry_rpc.h"
#include "tests/rpc/test_server.h"
#include "tests/support/run_process.h"

namespace glimmora {
namespace {

using testing::kServer;
using testing::ServerDir;

using namespace std::chrono_literals;

constexpr long kErrorServiceDoesNotExist = 1060;
constexpr long kErrorProcedureOutOfRange = 1745;

// The users the server script makes: glimmora-svc administers its services,
// glimmora-reg reads the registry, glimmora-noreg may not open its named pipes.
RpcCredentials Logon(const std::string& user, const std::string& password) {
  RpcCredentials credentials;
  credentials.username = user;
  credentials.domain = "GLIMTEST";
  credentials.password = password;
  return credentials;
}
RpcCredentials Administrator() {
  return Logon("glimmora-svc", "Service-pw-1");
}

RpcOptions ServiceTestOptions() {
  RpcOptions options;
  options.connectTimeout = 5s;
  options.requestTimeout = 10s;
  return options;
}

class ServiceManagerRpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerDir().empty()) << "GLIMMORA_SAMBA_DIR is not set: run through ctest";
  }
};

TEST_F(ServiceManagerRpcTest, RunningServiceAnswersItsStateAndRefusesChanges) {
  RpcRegistryAccess registry(Administrator(), ServiceTestOptions());
  ServiceManagerAccess* manager = registry.ServiceManager();
  ASSERT_NE(manager, nullptr);
  long code = -1;
  std::unique_ptr<ServiceHandle> service =
      manager->OpenServiceHandle(kServer, kRemoteRegistryService, Deadline(), &code);
  ASSERT_EQ(code, 0);
  ASSERT_NE(service, nullptr);

  ServiceStatus status;
  EXPECT_EQ(service->QueryStatus(&status, Deadline()), 0);
  EXPECT_EQ(status.state, ServiceState::kRunning);
  ServiceStartType startType = ServiceStartType::kBoot;
  EXPECT_EQ(service->QueryStartType(&startType, Deadline()), 0);
  EXPECT_EQ(startType, ServiceStartType::kManual);

  // Samba's own service cannot be driven from outside: start and stop are
  // refused, and the configuration change is an operation it does not serve
  // (a fault, after which the pipe goes on answering).
  EXPECT_EQ(service->Start(Deadline()), kErrorAccessDenied);
  ServiceStatus stopped;
  EXPECT_EQ(service->Stop(&stopped, Deadline()), kErrorAccessDenied);
  EXPECT_EQ(service->ChangeStartType(ServiceStartType::kDisabled, Deadline()),
            kErrorProcedureOutOfRange);
  EXPECT_EQ(service->QueryStatus(&status, Deadline()), 0);
  EXPECT_EQ(status.state, ServiceState::kRunning);
}

TEST_F(ServiceManagerRpcTest, UnknownServiceIsServiceDoesNotExist) {
  RpcRegistryAccess registry(Administrator(), ServiceTestOptions());
  long code = -1;
  EXPECT_EQ(registry.ServiceManager()->OpenServiceHandle("\\\\127.0.0.1", "GlimmoraNoSuchService",
                                                         Deadline(), &code),
            nullptr);
  EXPECT_EQ(code, kErrorServiceDoesNotExist);
}

TEST_F(ServiceManagerRpcTest, LogonFailuresAndRefusedPipesAreTheirCodes) {
  long code = -1;
  RpcRegistryAccess wrong(Logon("glimmora-reg", "wrong"), ServiceTestOptions());
  EXPECT_EQ(
      wrong.ServiceManager()->OpenServiceHandle(kServer, kRemoteRegistryService, Deadline(), &code),
      nullptr);
  EXPECT_EQ(code, kErrorLogonFailure);
  // The logon failures count towards the back end's stop, as the registry's do.
  EXPECT_EQ(
      wrong.ServiceManager()->OpenServiceHandle(kServer, kRemoteRegistryService, Deadline(), &code),
      nullptr);
  std::string account;
  EXPECT_TRUE(wrong.LogonsStopped(&account));

  RpcRegistryAccess denied(Logon("glimmora-noreg", "Denied-pw-1"), ServiceTestOptions());
  EXPECT_EQ(denied.ServiceManager()->OpenServiceHandle(kServer, kRemoteRegistryService, Deadline(),
                                                       &code),
            nullptr);
  EXPECT_EQ(code, kErrorAccessDenied);
}

TEST_F(ServiceManagerRpcTest, PassedDeadlineOpensNothing) {
  RpcRegistryAccess registry(Administrator(), ServiceTestOptions());
  long code = -1;
  const Deadline passed(DeadlineClock::now() - 1s);
  EXPECT_EQ(
      registry.ServiceManager()->OpenServiceHandle(kServer, kRemoteRegistryService, passed, &code),
      nullptr);
  EXPECT_EQ(code, kErrorTimeout);
}

// Records what the starter would change: nothing, for a running service.
class RecordingJournal : public ServiceJournal {
 public:
  bool Begin(const std::string& workstation, const ServiceChange&, std::string*) override {
    begun.push_back(workstation);
    return true;
  }
  bool Done(const std::string&, std::string*) override { return true; }
  std::vector<std::string> begun;
};

TEST_F(ServiceManagerRpcTest, WorkstationWithoutRegistryPipeButServiceRunningIsLeftAlone) {
  RpcOptions options = ServiceTestOptions();
  options.pipeName = "glimmora_no_such_pipe";  // the registry's pipe is missing
  RpcRegistryAccess registry(Administrator(), options);
  RecordingJournal journal;
  ServiceStarter starter(*registry.ServiceManager(), &journal);
  ExaminationOptions examination;
  examination.serviceStarter = &starter;
  const Examination result = ExamineWorkstation(registry, kServer, nullptr,
                                                Deadline(DeadlineClock::now() + 30s), examination);
  EXPECT_EQ(result.outcome, ExaminationOutcome::kRegistryError);
  EXPECT_EQ(result.registryErrorCode, kErrorBadNetPath);
  EXPECT_EQ(result.service, ServiceHandling::kRunning);
  EXPECT_TRUE(journal.begun.empty());
}

TEST_F(ServiceManagerRpcTest, CheckWithStartServiceLeavesAnOpeningRegistryAlone) {
  const std::string scratch =
      ::testing::TempDir() + "glimmora-svc-check-" + std::to_string(getpid());
  std::filesystem::create_directories(scratch);
  const std::string journal = scratch + "/services.journal";
  const std::vector<std::string> logon = {
      "-A", ServerDir() + "/auth-admin.txt", "--connect-timeout", "5", "--format", "json"};
  std::vector<std::string> plain = {"check"};
  plain.insert(plain.end(), logon.begin(), logon.end());
  plain.push_back(kServer);
  std::vector<std::string> starting = {"check", "--start-service", "--service-journal", journal};
  starting.insert(starting.end(), logon.begin(), logon.end());
  starting.push_back(kServer);

  const testing::ProcessResult expected = testing::RunProcess(GLIMMORA_CLI_PATH, plain, scratch);
  ASSERT_EQ(expected.exitCode, 0) << expected.err;
  const testing::ProcessResult run = testing::RunProcess(GLIMMORA_CLI_PATH, starting, scratch);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, expected.out);
  EXPECT_EQ(run.out.find("\"service\""), std::string::npos) << run.out;
  std::ifstream recorded(journal);
  std::stringstream text;
  text << recorded.rdbuf();
  EXPECT_EQ(text.str().find("127.0.0.1"), std::string::npos) << text.str();
  std::filesystem::remove_all(scratch);
}
}  // namespace
}  // namespace glimmora
