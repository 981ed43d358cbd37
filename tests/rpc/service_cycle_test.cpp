// The start-and-restore cycle of the Remote Registry service against a test
// server (scripts/samba-test-server with SAMBA_TEST_SERVICE_ENDPOINT=1, in a
// network namespace of its own) whose svcctl pipe is served by
// scripts/svcctl-test-endpoint: a service whose start type and state the tests
// set and read in a file, and whose registry pipe opens only while it runs.
// The whole test process enters the server's namespace before any thread
// starts, so the library and the programs it runs reach the server at
// 127.0.0.1.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "inventory/registry/service_start.h"
#include "inventory/rpc/registry_rpc.h"
#include "inventory/rpc/service_manager_rpc.h"
#include "tests/rpc/test_server.h"
#include "tests/support/run_process.h"

namespace glimmora {
namespace {

using testing::kServer;

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr long kErrorServiceDisabled = 1058;
constexpr long kErrorServiceAlreadyRunning = 1056;
constexpr long kErrorServiceNotActive = 1062;

std::string ServerDir() {
  const char* dir = std::getenv("GLIMMORA_SVC_DIR");
  return dir != nullptr ? dir : "";
}

std::string FirstLine(std::string text) {
  text.resize(std::min(text.size(), text.find('\n')));
  return text;
}

// The endpoint's state file, as it stands.
Json ServiceState() {
  return Json::parse(testing::ReadWholeFile(ServerDir() + "/remote-registry.json"));
}

// What the service manager was asked to change since the last call.
std::vector<std::string> TakeEvents() {
  const std::string path = ServerDir() + "/svcctl.log";
  std::vector<std::string> events;
  std::istringstream lines(testing::ReadWholeFile(path));
  for (std::string line; std::getline(lines, line);) events.push_back(line);
  std::filesystem::remove(path);
  return events;
}

void SetServiceState(const std::string& startType, const std::string& state,
                     double startSeconds = 0) {
  std::vector<std::string> args = {SVCCTL_ENDPOINT_PATH, "set", ServerDir(), startType, state};
  if (startSeconds > 0) {
    args.push_back("--start-seconds");
    args.push_back(std::to_string(startSeconds));
  }
  const testing::ProcessResult set =
      testing::RunProcess("/usr/bin/python3", args, ::testing::TempDir() + "svc-set");
  ASSERT_EQ(set.exitCode, 0) << set.err;
  TakeEvents();
}

// The SMB sessions the server holds now.
std::size_t ServerSessions() {
  const testing::ProcessResult status = testing::RunProcess(
      "/usr/bin/smbstatus", {"-s", ServerDir() + "/smb.conf", "--brief", "--json"},
      ::testing::TempDir() + "svc-smbstatus");
  EXPECT_EQ(status.exitCode, 0) << status.err;
  return status.exitCode == 0 ? Json::parse(status.out)["sessions"].size() : 0;
}

RpcOptions TestOptions() {
  RpcOptions options;
  options.connectTimeout = 5s;
  options.requestTimeout = 10s;
  return options;
}

RpcCredentials Administrator() {
  RpcCredentials credentials;
  credentials.username = "glimmora-svc";
  credentials.domain = "GLIMTEST";
  credentials.password = "Service-pw-1";
  return credentials;
}

class ServiceCycleTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (ServerDir().empty()) return;
    const std::string netns = FirstLine(testing::ReadWholeFile(ServerDir() + "/netns"));
    const int fd = open(("/run/netns/" + netns).c_str(), O_RDONLY | O_CLOEXEC);
    enteredNamespace_ = fd >= 0 && setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0) close(fd);
  }

  void SetUp() override {
    ASSERT_FALSE(ServerDir().empty()) << "GLIMMORA_SVC_DIR is not set: run through ctest";
    ASSERT_TRUE(enteredNamespace_) << "cannot enter the server's network namespace";
    std::filesystem::create_directories(scratch_);
  }
  void TearDown() override {
    std::filesystem::remove_all(scratch_);
    SetServiceState("manual", "running");
  }

  std::vector<std::string> BatchArgs(const std::string& name) {
    std::ofstream(scratch_ + "/input.txt") << kServer << "\n";
    return {"batch",
            "--start-service",
            "--service-journal",
            Journal(),
            "-A",
            ServerDir() + "/auth-service.txt",
            "--connect-timeout",
            "5",
            "--format",
            "jsonl",
            "--summary-json",
            scratch_ + "/" + name + ".summary.json",
            scratch_ + "/input.txt",
            scratch_ + "/" + name + ".jsonl"};
  }
  std::string Journal() const { return scratch_ + "/services.journal"; }

  // The objects of a run's output, one a line.
  std::vector<Json> Rows(const std::string& name) {
    std::vector<Json> rows;
    std::istringstream lines(testing::ReadWholeFile(scratch_ + "/" + name + ".jsonl"));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty()) rows.push_back(Json::parse(line));
    return rows;
  }

  // A batch of the one server; its rows all say `service` (none: the key is
  // absent), and they carry monitors.
  void ExpectBatch(const std::string& name, const std::string& service) {
    const testing::ProcessResult run =
        testing::RunProcess(GLIMMORA_CLI_PATH, BatchArgs(name), scratch_ + "/" + name);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<Json> rows = Rows(name);
    ASSERT_FALSE(rows.empty()) << run.err;
    for (const Json& row : rows) {
      EXPECT_EQ(row.contains("service"), !service.empty()) << row.dump();
      EXPECT_EQ(row.value("service", ""), service) << row.dump();
      EXPECT_TRUE(row.contains("model")) << row.dump();
    }
    const std::string written = testing::ReadWholeFile(scratch_ + "/" + name + ".jsonl");
    EXPECT_NE(written.find("\"model\":\"GLM Wide 27\""), std::string::npos) << written;
    const Json summary =
        Json::parse(testing::ReadWholeFile(scratch_ + "/" + name + ".summary.json"));
    EXPECT_EQ(summary["services"]["startedRestored"], service == "started-restored" ? 1 : 0)
        << summary.dump();
    EXPECT_EQ(summary["services"]["startFailed"], 0) << summary.dump();
  }

  // Starts the program without waiting for it.
  pid_t Spawn(const std::vector<std::string>& args) {
    const pid_t child = fork();
    if (child == 0) {
      const int out = open((scratch_ + "/spawned.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open((scratch_ + "/spawned.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0) _exit(127);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv = {const_cast<char*>(GLIMMORA_CLI_PATH)};
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(GLIMMORA_CLI_PATH, argv.data());
      _exit(127);
    }
    return child;
  }

  // Waits until the service is in `state`; false after 20 s.
  static bool AwaitState(const std::string& state) {
    for (auto until = std::chrono::steady_clock::now() + 20s;
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(20ms)) {
      if (ServiceState().value("state", "") == state) return true;
    }
    return false;
  }

  static bool enteredNamespace_;
  const std::string scratch_ =
      ::testing::TempDir() + "glimmora-svc-cycle-" + std::to_string(getpid());
};
bool ServiceCycleTest::enteredNamespace_ = false;

TEST_F(ServiceCycleTest, ServiceManagerStartsStopsAndReconfigures) {
  SetServiceState("manual", "stopped");
  RpcRegistryAccess registry(Administrator(), TestOptions());
  RegKey root = kNoKey;
  EXPECT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &root), kErrorBadNetPath);

  long code = -1;
  std::unique_ptr<ServiceHandle> service = registry.ServiceManager()->OpenServiceHandle(
      kServer, kRemoteRegistryService, Deadline(), &code);
  ASSERT_EQ(code, 0);
  ASSERT_NE(service, nullptr);
  ServiceStatus status;
  EXPECT_EQ(service->QueryStatus(&status, Deadline()), 0);
  EXPECT_EQ(status.state, ServiceState::kStopped);
  EXPECT_EQ(service->Stop(&status, Deadline()), kErrorServiceNotActive);

  EXPECT_EQ(service->ChangeStartType(ServiceStartType::kDisabled, Deadline()), 0);
  EXPECT_EQ(ServiceState()["start_type"], "disabled");
  ServiceStartType startType = ServiceStartType::kBoot;
  EXPECT_EQ(service->QueryStartType(&startType, Deadline()), 0);
  EXPECT_EQ(startType, ServiceStartType::kDisabled);
  EXPECT_EQ(service->Start(Deadline()), kErrorServiceDisabled);

  EXPECT_EQ(service->ChangeStartType(ServiceStartType::kManual, Deadline()), 0);
  EXPECT_EQ(service->Start(Deadline()), 0);
  EXPECT_EQ(service->Start(Deadline()), kErrorServiceAlreadyRunning);
  EXPECT_EQ(service->QueryStatus(&status, Deadline()), 0);
  EXPECT_EQ(status.state, ServiceState::kRunning);
  EXPECT_EQ(ServiceState()["state"], "running");
  // The registry opens on the service manager's session: one logon, and its
  // read-ahead pipes leave that session usable for the stop below. (The
  // session of the first, failed open may take a moment to go.)
  for (auto until = std::chrono::steady_clock::now() + 5s;
       ServerSessions() > 1 && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &root), 0);
  EXPECT_EQ(ServerSessions(), 1u);
  RegKey display = kNoKey;
  EXPECT_EQ(registry.RegOpenKeyExA(root, "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY", 0, kKeyRead,
                                   &display),
            0);
  if (display != kNoKey) registry.RegCloseKey(display);
  if (root != kNoKey) registry.RegCloseKey(root);

  EXPECT_EQ(service->Stop(&status, Deadline()), 0);
  EXPECT_EQ(status.state, ServiceState::kStopped);
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"config disabled", "config manual", "start", "stop"}));
}

TEST_F(ServiceCycleTest, UnknownServiceIsServiceDoesNotExist) {
  constexpr long kErrorServiceDoesNotExist = 1060;
  RpcRegistryAccess registry(Administrator(), TestOptions());
  long code = -1;
  EXPECT_EQ(registry.ServiceManager()->OpenServiceHandle(kServer, "GlimmoraNoSuchService",
                                                         Deadline(), &code),
            nullptr);
  EXPECT_EQ(code, kErrorServiceDoesNotExist);
  EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(ServiceCycleTest, BatchStartsDisabledServiceAndPutsItBack) {
  SetServiceState("disabled", "stopped");
  const Json before = ServiceState();
  ExpectBatch("disabled", "started-restored");
  EXPECT_EQ(ServiceState(), before);
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"config manual", "start", "stop", "config disabled"}));
}

TEST_F(ServiceCycleTest, BatchStartsStoppedServiceAndStopsItAgain) {
  SetServiceState("automatic", "stopped");
  const Json before = ServiceState();
  ExpectBatch("stopped", "started-restored");
  EXPECT_EQ(ServiceState(), before);
  EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"start", "stop"}));
}

// Its registry opens: the service manager is not even asked.
TEST_F(ServiceCycleTest, BatchLeavesRunningServiceAlone) {
  SetServiceState("manual", "running");
  const Json before = ServiceState();
  ExpectBatch("running", "");
  EXPECT_EQ(ServiceState(), before);
  EXPECT_TRUE(TakeEvents().empty());
}

TEST_F(ServiceCycleTest, InterruptWhileStartingPutsServiceBack) {
  SetServiceState("disabled", "stopped", 3);
  const Json before = ServiceState();
  const pid_t glimmora = Spawn(BatchArgs("interrupted"));
  ASSERT_GT(glimmora, 0);
  const bool starting = AwaitState("start_pending");
  kill(glimmora, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(glimmora, &status, 0), glimmora);
  ASSERT_TRUE(starting) << testing::ReadWholeFile(scratch_ + "/spawned.err");
  EXPECT_EQ(ServiceState(), before) << testing::ReadWholeFile(scratch_ + "/spawned.err");
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"config manual", "start", "stop", "config disabled"}));
}

TEST_F(ServiceCycleTest, RestoreServicesPutsBackWhatAKilledRunLeft) {
  SetServiceState("disabled", "stopped", 3);
  const Json before = ServiceState();
  const pid_t glimmora = Spawn(BatchArgs("killed"));
  ASSERT_GT(glimmora, 0);
  const bool starting = AwaitState("start_pending");
  kill(glimmora, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(glimmora, &status, 0), glimmora);
  ASSERT_TRUE(starting) << testing::ReadWholeFile(scratch_ + "/spawned.err");
  EXPECT_EQ(ServiceState()["start_type"], "manual");
  EXPECT_NE(testing::ReadWholeFile(Journal()).find(kServer), std::string::npos);

  const testing::ProcessResult restore =
      testing::RunProcess(GLIMMORA_CLI_PATH,
                          {"restore-services", "-A", ServerDir() + "/auth-service.txt",
                           "--connect-timeout", "5", Journal()},
                          scratch_ + "/restore");
  EXPECT_EQ(restore.exitCode, 0) << restore.err;
  EXPECT_EQ(ServiceState(), before);
  EXPECT_EQ(TakeEvents(),
            (std::vector<std::string>{"config manual", "start", "stop", "config disabled"}));
}

}  // namespace
}  // namespace glimmora
