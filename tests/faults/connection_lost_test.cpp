// A workstation's registry connection that breaks at any call of a check or a
// batch: the workstation then fails with a message, and no part of its
// monitors passes for all of them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "inventory/registry/registry_scan.h"
#include "quickcheck/check_sequence.h"
#include "tests/support/batch_fixture.h"
#include "tests/support/forwarding_registry.h"

namespace glimmora {
namespace {

constexpr long kErrorNetnameDeleted = 64;

// The memory registry behind a connection that breaks at the call numbered
// `breakAt` (1 for the first) after a connect: from there every call fails,
// as the calls on a dead link do, until the next connect opens a new one.
class BreakingRegistry : public testing::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;

  long ConnectWithin(const std::string& machine, RegKey root, const Deadline& deadline,
                     RegKey* result, std::string* description) override {
    calls_ = 0;
    lost_ = false;
    return ForwardingRegistry::ConnectWithin(machine, root, deadline, result, description);
  }
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t sam, RegKey* result) override {
    *result = kNoKey;
    if (Breaks()) return kErrorNetnameDeleted;
    return ForwardingRegistry::RegOpenKeyExA(key, subKey, options, sam, result);
  }
  long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) override {
    if (Breaks()) return kErrorNetnameDeleted;
    return ForwardingRegistry::RegEnumKeyExA(key, index, name);
  }
  long RegQueryValueExA(RegKey key, const std::string& value, std::uint32_t* type,
                        std::vector<std::uint8_t>* data) override {
    if (Breaks()) return kErrorNetnameDeleted;
    return ForwardingRegistry::RegQueryValueExA(key, value, type, data);
  }
  // Releasing a key is local (the base passes it on); it works whatever
  // became of the link.
  bool ConnectionLost(RegKey) override { return lost_; }

  std::size_t breakAt = 0;  // 0: never

 private:
  bool Breaks() {
    if (++calls_ == breakAt) lost_ = true;
    return lost_;
  }

  std::size_t calls_ = 0;
  bool lost_ = false;
};

class ConnectionLostTest : public ::testing::Test, protected testing::BatchRunFixture {
 protected:
  ConnectionLostTest() {
    MemoryWorkstation& pc01 = registry_.AddWorkstation("PC01");
    testing::AddTestMonitor(pc01, "DEL0001", "1", "MODEL DEL0001", "A1");
    testing::AddTestMonitor(pc01, "DEL0001", "2", "MODEL DEL0001", "A2");
    testing::AddTestMonitor(pc01, "GSM0002", "1", "MODEL GSM0002", "B1");
    testing::AddTestMonitor(pc01, "GSM0002", "2", "MODEL GSM0002", "B2");
    testing::AddTestMonitor(registry_.AddWorkstation("PC02"), "LEN0003", "1", "MODEL LEN0003",
                            "C1");
  }

  BreakingRegistry breaking_{registry_};
};

// Every row of the workstation, or a failure: nothing in between.
TEST_F(ConnectionLostTest, TheScanFailsWheneverTheConnectionBreaks) {
  std::size_t fullRows = 0;
  for (std::size_t breakAt = 100; breakAt-- > 0;) {
    breaking_.breakAt = breakAt;
    RegKey root = kNoKey;
    std::vector<std::string> ids;
    std::string error;
    if (ConnectRemoteRegistry(breaking_, "PC01", &root, &ids, &error) != 0) {
      EXPECT_EQ(error.rfind("Registry Open Error : Key=PC01 Code=", 0), 0u) << error;
      EXPECT_TRUE(ids.empty());
      EXPECT_EQ(registry_.OpenKeyCount(), 0u);
      continue;
    }
    std::size_t rows = 0;
    bool failed = false;
    MonitorTable table;
    for (const std::string& id : ids) {
      const int result = ScanDisplayMonitors(breaking_, root, id, table, &error);
      if (result == kScanConnectionLost) {
        EXPECT_EQ(table.RowCount(), 0u);
        EXPECT_EQ(
            error.rfind("Registry Open Error : Key=SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\" +
                            id + " Code=64 ",
                        0),
            0u)
            << error;
        failed = true;
        break;
      }
      EXPECT_EQ(result, 0) << "break at call " << breakAt;
      rows += table.RowCount();
    }
    breaking_.RegCloseKey(root);
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
    if (breakAt == 99 || breakAt == 0) fullRows = std::max(fullRows, rows);
    if (!failed) {
      EXPECT_EQ(rows, 4u) << "break at call " << breakAt;
    }
  }
  EXPECT_EQ(fullRows, 4u);
}

TEST_F(ConnectionLostTest, TheBatchWritesAFailureLineAndGoesOn) {
  services_.registry = &breaking_;
  services_.probe = nullptr;
  const std::vector<std::string> all = testing::SplitResultLines(RunInput("pc01\npc02\n"));
  ASSERT_EQ(all.size(), 6u);  // the header, PC01's four monitors, PC02's one

  for (std::size_t breakAt = 1; breakAt < 60; ++breakAt) {
    breaking_.breakAt = breakAt;
    RunBatch(state_, services_, inputPath_, outputPath_);
    EXPECT_EQ(state_.failed, 0);
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
    const std::vector<std::string> lines =
        testing::SplitResultLines(testing::ReadBytes(outputPath_));
    // PC02 connects anew; its connection breaks as well when the break comes
    // before its own calls are done, and then gets its own failure line.
    ASSERT_GE(lines.size(), 3u) << "break at call " << breakAt;
    const bool pc01Failed = lines[1].find(",Registry Open Error : Key=") != std::string::npos;
    if (pc01Failed) {
      EXPECT_EQ(lines[1].rfind("PC01,,,,,,,,,,,Registry Open Error : Key=", 0), 0u) << lines[1];
      EXPECT_EQ(lines[2].substr(0, 5), "PC02,");
      EXPECT_EQ(lines.size(), 3u);
    } else {
      EXPECT_EQ(lines, all) << "break at call " << breakAt;
    }
  }
}

class NoWait : public WaitCursor {
 public:
  void Begin() override {}
  void End() override {}
};

class RecordedMessages : public MessageBoxes {
 public:
  void Show(const std::string& text, MessageIcon icon) override {
    shown.push_back(text);
    icons.push_back(icon);
  }
  std::vector<std::string> shown;
  std::vector<MessageIcon> icons;
};

TEST_F(ConnectionLostTest, QuickCheckShowsTheFailureAndNoRows) {
  std::size_t failures = 0;
  for (std::size_t breakAt = 1; breakAt < 60; ++breakAt) {
    breaking_.breakAt = breakAt;
    MemoryMonitorList view;
    MonitorSortState sort;
    MonitorList list(view, sort);
    RecordedMessages messages;
    NoWait cursor;
    const QuickCheckOutcome outcome =
        RunQuickCheck("pc01", {nullptr, breaking_, list, messages, cursor});
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
    if (outcome == QuickCheckOutcome::kRegistryError) {
      ++failures;
      EXPECT_EQ(view.ItemCount(), 0u);
      ASSERT_EQ(messages.shown.size(), 1u);
      EXPECT_EQ(messages.shown[0].rfind("Registry Open Error : Key=", 0), 0u);
      EXPECT_EQ(messages.icons[0], MessageIcon::kHand);
    } else {
      EXPECT_EQ(outcome, QuickCheckOutcome::kMonitorsListed) << "break at call " << breakAt;
      EXPECT_EQ(view.ItemCount(), 4u) << "break at call " << breakAt;
    }
  }
  EXPECT_GT(failures, 20u);
}

}  // namespace
}  // namespace glimmora
