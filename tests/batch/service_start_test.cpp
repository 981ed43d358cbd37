// The Remote Registry service started for a read and put back, through the
// batch worker on an in-memory fleet whose registries open only while their
// service runs: exactly as before afterwards on every path, nothing touched
// where it runs, and the journal that lets a later run put back what a kill
// left changed.
#include "inventory/registry/service_start.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/service_journal.h"
#include "resources/texts.h"
#include "tests/support/batch_fixture.h"

namespace glimmora {
namespace {

using testing::ReadBytes;
using testing::TempDir;

struct FakeService {
  ServiceStartType startType = ServiceStartType::kDisabled;
  ServiceState state = ServiceState::kStopped;
  long openFailure = 0;    // the manager refuses the open with this code
  bool dropsOnce = false;  // the first handle's connection breaks once the service runs
  int pendingQueries = 0;  // queries still answered with the pending state
  bool operator==(const FakeService& other) const {
    return startType == other.startType && state == other.state;
  }
};

class FakeServiceManager : public ServiceManagerAccess {
 public:
  std::map<std::string, FakeService> services;
  std::mutex mutex;
  int opens = 0;

  std::unique_ptr<ServiceHandle> OpenServiceHandle(const std::string& workstation,
                                                   const std::string& service, const Deadline&,
                                                   long* code) override;
  bool Running(const std::string& workstation) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = services.find(workstation);
    return found != services.end() && found->second.state == ServiceState::kRunning;
  }
};

class FakeHandle : public ServiceHandle {
 public:
  FakeHandle(FakeServiceManager& manager, std::string workstation, bool drops)
      : manager_(manager), workstation_(std::move(workstation)), drops_(drops) {}
  long QueryStatus(ServiceStatus* status, const Deadline&) override {
    return With([&](FakeService& s) {
      if (s.pendingQueries > 0) {
        --s.pendingQueries;
      } else if (s.state == ServiceState::kStartPending) {
        s.state = ServiceState::kRunning;
        broken_ = drops_;  // the connection breaks while the registry is read
      } else if (s.state == ServiceState::kStopPending) {
        s.state = ServiceState::kStopped;
      }
      status->state = s.state;
      return 0L;
    });
  }
  long QueryStartType(ServiceStartType* type, const Deadline&) override {
    return With([&](FakeService& s) {
      *type = s.startType;
      return 0L;
    });
  }
  long ChangeStartType(ServiceStartType type, const Deadline&) override {
    return With([&](FakeService& s) {
      s.startType = type;
      return 0L;
    });
  }
  long Start(const Deadline&) override {
    return With([&](FakeService& s) {
      if (s.startType == ServiceStartType::kDisabled) return 1058L;
      if (s.state != ServiceState::kStopped) return 1056L;
      s.state = ServiceState::kStartPending;
      s.pendingQueries = 1;
      return 0L;
    });
  }
  long Stop(ServiceStatus* status, const Deadline&) override {
    return With([&](FakeService& s) {
      if (s.state == ServiceState::kStopped) return 1062L;
      s.state = ServiceState::kStopPending;
      status->state = s.state;
      return 0L;
    });
  }

 private:
  template <typename Call>
  long With(Call call) {
    std::lock_guard<std::mutex> lock(manager_.mutex);
    if (broken_) return 1726L;  // the remote procedure call failed
    return call(manager_.services[workstation_]);
  }
  FakeServiceManager& manager_;
  std::string workstation_;
  bool drops_;
  bool broken_ = false;
};

std::unique_ptr<ServiceHandle> FakeServiceManager::OpenServiceHandle(const std::string& workstation,
                                                                     const std::string& service,
                                                                     const Deadline&, long* code) {
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(service, kRemoteRegistryService);
  FakeService& s = services[workstation];
  ++opens;
  if (s.openFailure != 0) {
    *code = s.openFailure;
    return nullptr;
  }
  const bool drops = s.dropsOnce;
  s.dropsOnce = false;
  return std::make_unique<FakeHandle>(*this, workstation, drops);
}

// Registries that open only while their workstation's service runs, as a
// disabled Remote Registry's pipe is missing.
class ServicedRegistry : public MemoryRegistry {
 public:
  FakeServiceManager manager;
  ServiceManagerAccess* ServiceManager() override { return &manager; }

 protected:
  long ConnectTree(const std::string& machineName, std::shared_ptr<const RegistryNode>* root,
                   std::string* diagnostic) override {
    if (!manager.Running(machineName)) return kErrorBadNetPath;
    return MemoryRegistry::ConnectTree(machineName, root, diagnostic);
  }
};

class ServiceStartTest : public ::testing::Test {
 protected:
  ServiceStartTest() {
    services_.registry = &registry_;
    services_.layout.format = ReportFormat::kJson;
    for (const char* name : {"PC-DISABLED", "PC-STOPPED", "PC-RUNNING", "PC-DENIED", "PC-DROPS"}) {
      testing::AddTestMonitor(registry_.AddWorkstation(name), "DELD11D", "5&1&0&UID4352",
                              "DELL S3222HN", "2NQHQD3");
    }
    auto& s = registry_.manager.services;
    s["PC-DISABLED"] = {};
    s["PC-STOPPED"].startType = ServiceStartType::kManual;
    s["PC-RUNNING"] = {ServiceStartType::kAutomatic, ServiceState::kRunning};
    registry_.FailConnect("PC-RUNNING", kErrorBadNetPath);  // unreachable for another reason
    s["PC-DENIED"].openFailure = 5;
    s["PC-DROPS"].dropsOnce = true;
    before_ = s;
  }

  // The workstation's one line, its journal and the services after it.
  std::string Examine(
      const std::string& name, const std::function<bool()>& stop = [] { return false; }) {
    std::vector<std::string> lines;
    ExamineIntoLines(services_, *ResultFormatFor(services_.layout), name, stop, &lines);
    return lines.empty() ? std::string() : lines.front();
  }

  TempDir dir_;
  std::string journalPath_ = dir_.File("night.csv.glimmora-services");
  ServicedRegistry registry_;
  BatchServices services_;
  std::map<std::string, FakeService> before_;
};

TEST_F(ServiceStartTest, AServiceIsStartedForTheReadAndPutBackExactlyOnEveryPath) {
  std::vector<PendingRestore> pending;
  std::string reason;
  auto journal = ServiceJournalFile::Open(journalPath_, &pending, &reason);
  ASSERT_TRUE(journal) << reason;
  ServiceStarter starter(registry_.manager, journal.get());
  services_.serviceStarter = &starter;

  for (const char* name : {"PC-DISABLED", "PC-STOPPED", "PC-DROPS"}) {
    const std::string line = Examine(name);
    EXPECT_NE(line.find("\"monitorId\":\"DELD11D\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"service\":\"started-restored\""), std::string::npos) << line;
  }
  // Found running: left alone, the failure as it was.
  const std::string running = Examine("PC-RUNNING");
  EXPECT_NE(running.find("\"reason\":\"registry-unreachable\""), std::string::npos) << running;
  EXPECT_NE(running.find("\"service\":\"running\""), std::string::npos) << running;
  // The manager refuses: the usual failure, with what was tried.
  const std::string denied = Examine("PC-DENIED");
  EXPECT_NE(denied.find("\"service\":\"start-failed\""), std::string::npos) << denied;
  EXPECT_NE(denied.find("the service manager could not start it"), std::string::npos) << denied;
  // A stop request as the service comes up: the read is given up, the service put back.
  bool stop = false;
  EXPECT_EQ(Examine("PC-DISABLED",
                    [&] { return stop = stop || registry_.manager.Running("PC-DISABLED"); }),
            "");

  EXPECT_EQ(registry_.manager.services, before_);
  EXPECT_EQ(registry_.OpenKeyCount(), 0u);
  journal.reset();
  ASSERT_TRUE(ReadPendingRestores(ReadBytes(journalPath_), &pending));
  EXPECT_TRUE(pending.empty());
  // Four starts, each recorded before it and closed after it.
  const std::string text = ReadBytes(journalPath_);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 9) << text;
}

// A run killed between the start and the restore: the journal holds the
// change, a later run names it, and its restore puts the service back.
TEST_F(ServiceStartTest, TheJournalPutsBackWhatAKillLeftChanged) {
  std::vector<PendingRestore> pending;
  std::string reason;
  {
    auto journal = ServiceJournalFile::Open(journalPath_, &pending, &reason);
    ASSERT_TRUE(journal) << reason;
    ServiceStarter starter(registry_.manager, journal.get());
    ServiceStart start = starter.Start("PC-DISABLED", Deadline());
    ASSERT_EQ(start.handling, ServiceHandling::kStartedRestored);
    ASSERT_TRUE(registry_.manager.Running("PC-DISABLED"));
    // Killed here: no restore, no done.
  }
  EXPECT_FALSE(registry_.manager.services["PC-DISABLED"] == before_["PC-DISABLED"]);
  auto journal = ServiceJournalFile::Open(journalPath_, &pending, &reason);
  ASSERT_TRUE(journal) << reason;
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].workstation, "PC-DISABLED");
  EXPECT_TRUE(pending[0].change.enabled);
  ServiceStarter starter(registry_.manager, journal.get());
  EXPECT_EQ(starter.RestoreRecorded(pending[0].workstation, pending[0].change, &reason),
            ServiceHandling::kStartedRestored)
      << reason;
  EXPECT_EQ(registry_.manager.services, before_);
  journal = ServiceJournalFile::Open(journalPath_, &pending, &reason);
  EXPECT_TRUE(pending.empty());
  // A journal that cannot be written: nothing is changed, and the line says why.
  class FullJournal : public ServiceJournal {
   public:
    bool Begin(const std::string&, const ServiceChange&, std::string* why) override {
      *why = "No space left on device";
      return false;
    }
    bool Done(const std::string&, std::string*) override { return true; }
  } full;
  ServiceStarter refused(registry_.manager, &full);
  services_.serviceStarter = &refused;
  const std::string line = Examine("PC-DISABLED");
  EXPECT_NE(line.find("the service journal could not be written: No space left on device)"),
            std::string::npos)
      << line;
  EXPECT_EQ(registry_.manager.services, before_);
  // Not a journal: refused, not appended to.
  testing::WriteBytes(dir_.File("inventory.csv"), "Name,Model\r\n");
  EXPECT_FALSE(ServiceJournalFile::Open(dir_.File("inventory.csv"), &pending, &reason));
}

}  // namespace
}  // namespace glimmora
