// A stop requested at every point the worker can meet one: each probe and
// registry call in turn trips the stop flag. Whatever the moment, the result
// file holds the header and the whole lines of the workstations finished
// before it, every key is closed, and nothing is reported as a failure.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "tests/support/batch_fixture.h"
#include "tests/support/forwarding_registry.h"

namespace glimmora {
namespace {

using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Counts every call of the probe and of the registry, and asks for a stop at
// the call numbered `tripAt` (1 for the first), before doing it.
class TrippingRegistry : public testing::ForwardingRegistry {
 public:
  TrippingRegistry(RegistryAccess& inner, BatchState& state)
      : ForwardingRegistry(inner), state_(state) {}

  void Count() {
    if (++calls == tripAt) state_.RequestStop();
  }
  long ConnectWithin(const std::string& machine, RegKey root, const Deadline& deadline,
                     RegKey* result, std::string* description) override {
    Count();
    return ForwardingRegistry::ConnectWithin(machine, root, deadline, result, description);
  }
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t sam, RegKey* result) override {
    Count();
    return ForwardingRegistry::RegOpenKeyExA(key, subKey, options, sam, result);
  }
  long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) override {
    Count();
    return ForwardingRegistry::RegEnumKeyExA(key, index, name);
  }
  long RegQueryValueExA(RegKey key, const std::string& value, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) override {
    Count();
    return ForwardingRegistry::RegQueryValueExA(key, value, type, data);
  }
  long RegCloseKey(RegKey key) override {
    Count();
    return ForwardingRegistry::RegCloseKey(key);
  }

  std::size_t calls = 0;
  std::size_t tripAt = 0;

 private:
  BatchState& state_;
};

class BatchStopTest : public ::testing::Test {
 protected:
  BatchStopTest() {
    MemoryWorkstation& pc01 = registry_.AddWorkstation("PC01");
    testing::AddTestMonitor(pc01, "DELD11D", "1", "DELL U2412M", "A1");
    testing::AddTestMonitor(pc01, "DELD11D", "2", "DELL U2412M", "");
    testing::AddTestMonitor(pc01, "GSM5A49", "1", "", "B2");
    registry_.AddWorkstation("PC02");  // unreachable: the probe says so
    // PC03 has no registry at all.
    MemoryWorkstation& pc04 = registry_.AddWorkstation("PC04");
    testing::AddTestMonitor(pc04, "ACR0001", "1", "ACER", "C3");
    testing::AddTestMonitor(pc04, "ACR0001", "2", "acer", "c3");  // the same, letter case aside
    pc04.AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\ACR0001\\3");  // no values at all
    testing::AddTestMonitor(pc04, "SAM0002", "1", "SAMSUNG", "D4");
    registry_.AddWorkstation("PC05").AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY");
    testing::AddTestMonitor(registry_.AddWorkstation("PC06"), "LEN0003", "1", "LENOVO", "E5");
    WriteBytes(inputPath_, "pc01\n# comment\npc02\npc03\n\npc04\npc05\npc06");
  }

  // The result file of a batch that trips the stop at call `tripAt` (0: never).
  std::string RunTrippingAt(std::size_t tripAt, std::size_t* calls) {
    BatchState state;
    TrippingRegistry tripping(registry_, state);
    tripping.tripAt = tripAt;
    BatchServices services;
    services.registry = &tripping;
    services.finishPause = std::chrono::milliseconds(0);
    services.probe = [&](const std::string& name, std::string& text, const Deadline&) {
      tripping.Count();
      if (name != "PC02") return 0;
      text = "(Error: Request timed out 192.0.2.2)";
      return 1;
    };
    RunBatch(state, services, inputPath_, outputPath_);
    EXPECT_EQ(state.failed, 0) << "stop at call " << tripAt << ": " << state.failureText;
    EXPECT_EQ(state.CurrentWorkstation(), "");
    EXPECT_EQ(registry_.OpenKeyCount(), 0u) << "stop at call " << tripAt;
    EXPECT_EQ(state.StopRequested(), tripAt != 0 && tripAt <= tripping.calls);
    *calls = tripping.calls;
    return ReadBytes(outputPath_);
  }

  TempDir dir_;
  std::string inputPath_ = dir_.File("workstations.txt");
  std::string outputPath_ = dir_.File("inventory.csv");
  MemoryRegistry registry_;
};

TEST_F(BatchStopTest, EveryStopPointLeavesWholeWorkstationsOnly) {
  std::size_t total = 0;
  const std::string full = RunTrippingAt(0, &total);
  // The header, then six workstations.
  const std::vector<std::string> groups = testing::WorkstationGroups(full);
  ASSERT_EQ(groups.size(), 7u) << full;
  ASSERT_GT(total, 40u);

  std::size_t finishedBefore = 0;
  for (std::size_t tripAt = 1; tripAt <= total + 1; ++tripAt) {
    std::size_t calls = 0;
    const std::string file = RunTrippingAt(tripAt, &calls);
    // The header and the whole lines of the first k workstations, for some k
    // that never shrinks as the stop comes later.
    std::string expected = groups[0];
    std::size_t finished = 1;
    while (finished < groups.size() && file.size() > expected.size())
      expected += groups[finished++];
    EXPECT_EQ(file, expected) << "stop at call " << tripAt;
    EXPECT_GE(finished, finishedBefore) << "stop at call " << tripAt;
    finishedBefore = finished;
  }
  EXPECT_EQ(finishedBefore, groups.size());
}

}  // namespace
}  // namespace glimmora
