// The display scan over the in-memory registry: what a workstation's registry
// turns into, and that every key opened is closed again.
#include <gtest/gtest.h>

#include "inventory/registry/registry_scan.h"
#include "resources/texts.h"
#include "tests/support/edid_builder.h"
#include "tests/support/registry_memory.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::EdidSpec;
using testing::MakeEdid;

const std::string kDisplay = "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY";

std::string OpenErrorText(const std::string& key, long code, const std::string& description) {
  return LoadText(kTextRegistryOpenError) + " : Key=" + key + " Code=" + std::to_string(code) +
         " Desc=" + description;
}

class RegistryScanTest : public ::testing::Test {
 protected:
  // Connects to PC1 and scans one device identifier; the root stays open.
  MonitorTable Scan(const std::string& deviceId, int expectedResult = 0) {
    EXPECT_EQ(ConnectRemoteRegistry(registry_, "PC1", &root_, &ids_, &error_), 0) << error_;
    MonitorTable table;
    EXPECT_EQ(ScanDisplayMonitors(registry_, root_, deviceId, table, &error_), expectedResult);
    EXPECT_EQ(registry_.OpenKeyCount(), 1u);  // only the root
    return table;
  }
  void TearDown() override {
    if (root_ != kNoKey) registry_.RegCloseKey(root_);
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
  }

  testing::EnglishMessages english_;
  MemoryRegistry registry_;
  RegKey root_ = kNoKey;
  std::vector<std::string> ids_;
  std::string error_;
};

TEST_F(RegistryScanTest, ListsDeviceIdentifiersInEnumerationOrder) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEL4065", "5&1", "(Standard monitor types)", "Dell U2412M", "Monitor",
                  "MONITOR\\DEL4065", MakeEdid({.model = "DELL U2412M", .serial = "ABC"}))
      .AddMonitor("ACR0001", "5&2", "Acer", "Acer", "Monitor", "MONITOR\\ACR0001", {})
      .AddKey(kDisplay + "\\Default_Monitor");
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "pc1", &root_, &ids_, &error_), 0);
  EXPECT_EQ(ids_, (std::vector<std::string>{"DEL4065", "ACR0001", "Default_Monitor"}));
  EXPECT_EQ(registry_.OpenKeyCount(), 1u);
}

TEST_F(RegistryScanTest, ConnectFailuresNameTheWorkstationAndLeaveNothingOpen) {
  registry_.AddWorkstation("NODISPLAY").AddKey("SYSTEM\\CurrentControlSet\\Enum\\PCI");
  registry_.FailConnect("LOCKED", kErrorAccessDenied);
  ids_ = {"kept"};

  EXPECT_EQ(ConnectRemoteRegistry(registry_, "GHOST", &root_, &ids_, &error_), -1);
  EXPECT_EQ(error_, OpenErrorText("GHOST", 53, "The network path was not found."));
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "LOCKED", &root_, &ids_, &error_), -1);
  EXPECT_EQ(error_, OpenErrorText("LOCKED", 5, "Access is denied."));
  // The display key is missing: the Key part still names the workstation.
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "NODISPLAY", &root_, &ids_, &error_), -1);
  EXPECT_EQ(error_, OpenErrorText("NODISPLAY", 2, "The system cannot find the file specified."));

  EXPECT_EQ(ids_, std::vector<std::string>{"kept"});
  EXPECT_EQ(root_, kNoKey);
  EXPECT_EQ(registry_.OpenKeyCount(), 0u);
}

TEST_F(RegistryScanTest, EmptyDisplayKeyGivesNoIdentifiers) {
  registry_.AddWorkstation("PC1").AddKey(kDisplay);
  ids_ = {"stale"};
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "PC1", &root_, &ids_, &error_), 0);
  EXPECT_TRUE(ids_.empty());
}

TEST_F(RegistryScanTest, EnumerationFailingPartWayKeepsWhatCameBefore) {
  registry_.AddWorkstation("PC1")
      .AddKey(kDisplay + "\\A")
      .AddKey(kDisplay + "\\B")
      .AddKey(kDisplay + "\\C")
      .FailEnum(kDisplay, 1, kErrorMoreData);
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "PC1", &root_, &ids_, &error_), 0);
  EXPECT_EQ(ids_, std::vector<std::string>{"A"});
}

TEST_F(RegistryScanTest, SubkeyNameTooLongForTheBufferEndsTheEnumeration) {
  registry_.AddWorkstation("PC1")
      .AddKey(kDisplay + "\\A")
      .AddKey(kDisplay + "\\" + std::string(259, 'L'))
      .AddKey(kDisplay + "\\" + std::string(258, 'M'));
  EXPECT_EQ(ConnectRemoteRegistry(registry_, "PC1", &root_, &ids_, &error_), 0);
  EXPECT_EQ(ids_, std::vector<std::string>{"A"});
}

TEST_F(RegistryScanTest, ReadsTheFourValuesAndDecodesTheEdid) {
  registry_.AddWorkstation("PC1").AddMonitor(
      "DEL4065", "5&1", "(Standard monitor types)", "Dell U2412M(Digital)", "Monitor",
      "MONITOR\\DEL4065", MakeEdid({.model = "DELL U2412M", .serial = "Y1H5T27", .week = 20}));
  const MonitorTable table = Scan("DEL4065");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(
      RowAt(table, 0),
      (MonitorRow{"Monitor", "Dell U2412M(Digital)", "(Standard monitor types)", "MONITOR\\DEL4065",
                  "DELL U2412M", "Y1H5T27", "W:52cm x H:32cm (24.0\")", "2008/5", "1.3"}));
}

TEST_F(RegistryScanTest, UnopenableInstanceYieldsNoRow) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEV", "1", "M", "first", "Monitor", "H", MakeEdid({.model = "ONE"}))
      .AddMonitor("DEV", "2", "M", "second", "Monitor", "H", MakeEdid({.model = "TWO"}))
      .AddMonitor("DEV", "3", "M", "third", "Monitor", "H", MakeEdid({.model = "THREE"}))
      .FailOpen(kDisplay + "\\DEV\\2", kErrorAccessDenied);
  const MonitorTable table = Scan("DEV");
  EXPECT_EQ(table.description, (std::vector<std::string>{"first", "third"}));
  EXPECT_EQ(table.model, (std::vector<std::string>{"ONE", "THREE"}));
  EXPECT_EQ(table.edidVersion.size(), 2u);
}

TEST_F(RegistryScanTest, InstanceWithoutDeviceParametersHasUnknownEdidCells) {
  registry_.AddWorkstation("PC1")
      .SetString(kDisplay + "\\DEV\\1", "Mfg", "Maker")
      .SetString(kDisplay + "\\DEV\\1", "DeviceDesc", "Plain")
      .SetString(kDisplay + "\\DEV\\1", "Class", "Monitor")
      .SetMultiString(kDisplay + "\\DEV\\1", "HardwareID", {"MONITOR\\DEV"});
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(RowAt(table, 0), (MonitorRow{"Monitor", "Plain", "Maker", "MONITOR\\DEV", "<UNKNOWN>",
                                         "<UNKNOWN>", "<UNKNOWN>", "<UNKNOWN>", "<UNKNOWN>"}));
}

TEST_F(RegistryScanTest, MissingOrUnreadableEdidValueGivesUnknownEdidCells) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEV", "1", "M", "no EDID value", "Monitor", "H", {})
      .AddMonitor("DEV", "2", "M", "unreadable", "Monitor", "H", MakeEdid({.model = "X"}))
      .FailQuery(kDisplay + "\\DEV\\2\\Device Parameters", "EDID", kErrorAccessDenied);
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 2u);
  for (std::size_t row = 0; row < 2; ++row) {
    EXPECT_EQ(table.model[row], "<UNKNOWN>");
    EXPECT_EQ(table.monitorSize[row], "<UNKNOWN>");
    EXPECT_EQ(table.edidVersion[row], "<UNKNOWN>");
  }
}

// Blocks with extensions are common; each must decode from its base block.
TEST_F(RegistryScanTest, EdidWithExtensionBlocksIsDecoded) {
  MemoryWorkstation& pc = registry_.AddWorkstation("PC1");
  for (std::size_t size : {128u, 256u, 384u, 512u}) {
    pc.AddMonitor("DEV", "size" + std::to_string(size), "M", "D", "Monitor", "H",
                  MakeEdid({.model = "M" + std::to_string(size), .serial = "S", .size = size}));
  }
  const MonitorTable table = Scan("DEV");
  EXPECT_EQ(table.model, (std::vector<std::string>{"M128", "M256", "M384", "M512"}));
  EXPECT_EQ(table.edidVersion, (std::vector<std::string>(4, "1.3")));
}

TEST_F(RegistryScanTest, ShortEdidReadsAsZeroPadded) {
  std::vector<std::uint8_t> shortBlock = MakeEdid({.model = "CUT"});
  shortBlock.resize(18);  // ends before the version bytes
  registry_.AddWorkstation("PC1").AddMonitor("DEV", "1", "M", "D", "Monitor", "H", shortBlock);
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.model[0], "<UNKNOWN>");
  EXPECT_EQ(table.edidVersion[0], "0.0");
  EXPECT_EQ(table.monitorSize[0], "W:0cm x H:0cm (0.0\")");
}

TEST_F(RegistryScanTest, BlankNameDescriptorGivesUnknownModelButKeepsSerial) {
  registry_.AddWorkstation("PC1").AddMonitor("DEV", "1", "M", "D", "Monitor", "H",
                                             MakeEdid({.model = "             ", .serial = "SN1"}));
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.model[0], "<UNKNOWN>");
  EXPECT_EQ(table.serialNumber[0], "SN1");
}

TEST_F(RegistryScanTest, ValueTextRules) {
  const std::string key = kDisplay + "\\DEV\\1";
  const std::string bytes = "no terminating zero";
  registry_.AddWorkstation("PC1")
      .SetString(key, "Mfg", "")                                          // empty, not unknown
      .SetValue(key, "DeviceDesc", kRegSz, {bytes.begin(), bytes.end()})  // ends at its length
      .SetMultiString(key, "HardwareID", {"MONITOR\\DEV", "*PNP09FF"})    // first string only
      .SetValue(key, "Class", kRegSz, {'M', 'o', 'n', 0, 'i', 't', 0});   // up to the zero
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.mfg[0], "");
  EXPECT_EQ(table.description[0], bytes);
  EXPECT_EQ(table.hardwareId[0], "MONITOR\\DEV");
  EXPECT_EQ(table.deviceClass[0], "Mon");
}

TEST_F(RegistryScanTest, LongStringValueIsReadWhole) {
  const std::string longText(600, 'x');
  registry_.AddWorkstation("PC1").SetString(kDisplay + "\\DEV\\1", "DeviceDesc", longText);
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.description[0], longText);
  EXPECT_EQ(table.mfg[0], "<UNKNOWN>");  // missing value
}

TEST_F(RegistryScanTest, UnreadableValueGivesUnknownCellAndTheRowStays) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEV", "1", "M", "D", "Monitor", "H", MakeEdid({.model = "X"}))
      .FailQuery(kDisplay + "\\DEV\\1", "Class", kErrorAccessDenied);
  const MonitorTable table = Scan("DEV");
  ASSERT_EQ(table.RowCount(), 1u);
  EXPECT_EQ(table.deviceClass[0], "<UNKNOWN>");
  EXPECT_EQ(table.mfg[0], "M");
}

TEST_F(RegistryScanTest, InstanceEnumerationFailingPartWayKeepsEarlierRows) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEV", "1", "M", "first", "Monitor", "H", {})
      .AddMonitor("DEV", "2", "M", "second", "Monitor", "H", {})
      .FailEnum(kDisplay + "\\DEV", 1, kErrorAccessDenied);
  const MonitorTable table = Scan("DEV");
  EXPECT_EQ(table.description, std::vector<std::string>{"first"});
}

TEST_F(RegistryScanTest, UnopenableDeviceKeyEmptiesTheTableAndNamesTheKey) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEV", "1", "M", "D", "Monitor", "H", {})
      .FailOpen(kDisplay + "\\DEV", kErrorAccessDenied);
  ASSERT_EQ(ConnectRemoteRegistry(registry_, "PC1", &root_, &ids_, &error_), 0);
  MonitorTable table;
  table.model.push_back("left over");
  EXPECT_EQ(ScanDisplayMonitors(registry_, root_, "DEV", table, &error_), -1);
  EXPECT_EQ(error_, OpenErrorText(kDisplay + "\\DEV", 5, "Access is denied."));
  EXPECT_TRUE(table.model.empty());
  EXPECT_EQ(ScanDisplayMonitors(registry_, root_, "NOSUCH", table, &error_), -1);
  EXPECT_EQ(error_,
            OpenErrorText(kDisplay + "\\NOSUCH", 2, "The system cannot find the file specified."));
  EXPECT_EQ(registry_.OpenKeyCount(), 1u);
}

TEST_F(RegistryScanTest, ScanEmptiesTheTableFirst) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("A", "1", "M", "a", "Monitor", "H", {})
      .AddMonitor("B", "1", "M", "b", "Monitor", "H", {});
  MonitorTable table = Scan("A");
  ASSERT_EQ(ScanDisplayMonitors(registry_, root_, "B", table, &error_), 0);
  EXPECT_EQ(table.description, std::vector<std::string>{"b"});
  EXPECT_EQ(table.edidVersion.size(), 1u);
}

#ifndef _WIN32
TEST(RegistryScanLanguageTest, ErrorTextFollowsTheUserLanguage) {
  testing::ScopedEnv japanese("LC_ALL", "ja_JP.UTF-8");
  MemoryRegistry registry;
  RegKey root = kNoKey;
  std::vector<std::string> ids;
  std::string error;
  EXPECT_EQ(ConnectRemoteRegistry(registry, "PC1", &root, &ids, &error), -1);
  EXPECT_EQ(
      error,
      "レジストリのオープンエラー : Key=PC1 Code=53 Desc=ネットワーク パスが見つかりません。");
}
#endif

}  // namespace
}  // namespace glimmora
