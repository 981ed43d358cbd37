// The advapi32 back end against Wine's own registry, into which the test keys
// of tests/data/wine were imported (see CMakeLists.txt). Wine opens only its
// own machine's registry: this computer's name connects, any other gives 53.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "common/deadline.h"
#include "inventory/registry/registry_scan.h"
#include "inventory/system_messages.h"
#include "inventory/win32/registry_win32.h"
#include "quickcheck/check_sequence.h"
#include "resources/texts.h"

#include "tests/support/computer_name_win32.h"

namespace glimmora {
namespace {

using testing::ComputerName;

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    computer_ = ComputerName();
    ASSERT_FALSE(computer_.empty());
  }
  void TearDown() override {
    if (root_ != kNoKey) {
      EXPECT_EQ(registry_.RegCloseKey(root_), 0);
    }
  }

  Win32Registry registry_;
  std::string computer_;
  RegKey root_ = kNoKey;
  std::vector<std::string> ids_;
  std::string error_;
};

TEST_F(Win32RegistryTest, ListsTheDisplayDevicesOfThisComputer) {
  ASSERT_EQ(ConnectRemoteRegistry(registry_, computer_, &root_, &ids_, &error_), 0) << error_;
  // Wine's own Default_Monitor may be there too; ours must be.
  for (const char* id : {"GLMTEST1", "GLMTEST2"})
    EXPECT_NE(std::find(ids_.begin(), ids_.end(), id), ids_.end()) << id;
}

TEST_F(Win32RegistryTest, ScansInstancesWithEdidBlocksOfAnyLength) {
  ASSERT_EQ(ConnectRemoteRegistry(registry_, computer_, &root_, &ids_, &error_), 0) << error_;
  MonitorTable table;
  ASSERT_EQ(ScanDisplayMonitors(registry_, root_, "GLMTEST1", table, &error_), 0) << error_;
  ASSERT_EQ(table.RowCount(), 2u);
  EXPECT_EQ(RowAt(table, 0),
            (MonitorRow{"Monitor", std::string(300, 'G'), "Glimmora Test", "MONITOR\\GLMTEST1",
                        "GLM ONE", "GLM-0001", "W:60cm x H:34cm (27.2\")", "2020/5", "1.3"}));
  EXPECT_EQ(table.model[1], "GLM TWO");  // a 512-byte block
  EXPECT_EQ(table.mfgDate[1], "2021/5");
  // Presence from the Control key, asked for: the first is plugged in, the second a ghost.
  EXPECT_EQ(table.details[0].presence, Presence::kUnknown);
  ASSERT_EQ(ScanDisplayMonitors(registry_, root_, "GLMTEST1", table, &error_, {true}), 0);
  EXPECT_EQ(table.details[0].presence, Presence::kPresent);
  EXPECT_EQ(table.details[1].presence, Presence::kGhost);

  ASSERT_EQ(ScanDisplayMonitors(registry_, root_, "GLMTEST2", table, &error_), 0) << error_;
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.description[0], "No parameters");
  EXPECT_EQ(table.model[0], "<UNKNOWN>");
  EXPECT_EQ(table.edidVersion[0], "<UNKNOWN>");
}

TEST_F(Win32RegistryTest, ComputerNameMatchesWithoutRegardToCase) {
  std::string lower = computer_;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
  EXPECT_EQ(ConnectRemoteRegistry(registry_, lower, &root_, &ids_, &error_), 0) << error_;
}

TEST_F(Win32RegistryTest, OtherWorkstationFailsWithTheSystemText) {
  ids_ = {"kept"};
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "GLIMMORA-NO-SUCH-PC", &root_, &ids_, &error_), -1);
  const std::string description = LocalSystemMessageText(53);
  EXPECT_FALSE(description.empty());
  EXPECT_EQ(description.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(error_, LoadText(kTextRegistryOpenError) +
                        " : Key=GLIMMORA-NO-SUCH-PC Code=53 Desc=" + description);
  EXPECT_EQ(ids_, std::vector<std::string>{"kept"});
  EXPECT_EQ(root_, kNoKey);
}

// Under a batch's deadline the connect runs on a helper thread; what it gives
// is the same, a refusal included, and the key it hands over stays usable.
TEST_F(Win32RegistryTest, ConnectUnderADeadlineGivesTheSameResults) {
  const Deadline deadline(DeadlineClock::now() + std::chrono::seconds(20));
  RegKey other = kNoKey;
  std::string description;
  EXPECT_EQ(registry_.ConnectWithin("GLIMMORA-NO-SUCH-PC", kHkeyLocalMachine, deadline, &other,
                                    &description),
            53);
  EXPECT_EQ(other, kNoKey);
  EXPECT_EQ(description, LocalSystemMessageText(53));
  ASSERT_EQ(ConnectRemoteRegistry(registry_, computer_, &root_, &ids_, &error_, deadline), 0)
      << error_;
  MonitorTable table;
  ASSERT_EQ(ScanDisplayMonitors(registry_, root_, "GLMTEST1", table, &error_), 0) << error_;
  EXPECT_EQ(table.RowCount(), 2u);
}

TEST_F(Win32RegistryTest, MissingDeviceKeyIsReportedWithItsPath) {
  ASSERT_EQ(ConnectRemoteRegistry(registry_, computer_, &root_, &ids_, &error_), 0) << error_;
  MonitorTable table;
  EXPECT_EQ(ScanDisplayMonitors(registry_, root_, "GLMNOSUCH", table, &error_), -1);
  EXPECT_EQ(error_, LoadText(kTextRegistryOpenError) +
                        " : Key=SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\GLMNOSUCH Code=2 Desc=" +
                        LocalSystemMessageText(2));
}

TEST_F(Win32RegistryTest, ValuesComeWhole) {
  ASSERT_EQ(registry_.RegConnectRegistryA(computer_, kHkeyLocalMachine, &root_), 0);
  RegKey key = kNoKey;
  ASSERT_EQ(registry_.RegOpenKeyExA(root_,
                                    "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\GLMTEST1\\"
                                    "1&100&0&UID2\\Device Parameters",
                                    0, kKeyRead, &key),
            0);
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  EXPECT_EQ(registry_.RegQueryValueExA(key, "EDID", &type, &data), 0);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(data.size(), 512u);
  EXPECT_EQ(registry_.RegQueryValueExA(key, "NoSuchValue", &type, &data), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(registry_.RegCloseKey(key), 0);
}

struct NoProbeParts : MessageBoxes, WaitCursor {
  void Show(const std::string& text, MessageIcon) override { messages.push_back(text); }
  void Begin() override {}
  void End() override {}
  std::vector<std::string> messages;
};

TEST_F(Win32RegistryTest, QuickCheckListsTheImportedMonitors) {
  MemoryMonitorList view;
  MonitorSortState sort;
  MonitorList list(view, sort);
  NoProbeParts page;
  EXPECT_EQ(RunQuickCheck(computer_, {nullptr, registry_, list, page, page}),
            QuickCheckOutcome::kMonitorsListed);
  EXPECT_TRUE(page.messages.empty());
  std::vector<std::string> models;
  for (std::size_t item = 0; item < view.ItemCount(); ++item) {
    if (view.ItemText(item, 0).rfind("GLMTEST", 0) == 0) models.push_back(view.ItemText(item, 5));
  }
  EXPECT_EQ(models, (std::vector<std::string>{"GLM ONE", "GLM TWO"}));
}

}  // namespace
}  // namespace glimmora
