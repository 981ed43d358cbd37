// Workstations read from export files, through the scan as a check reads them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "inventory/offline/registry_offline.h"
#include "inventory/registry/examination.h"
#include "inventory/registry/registry_scan.h"
#include "inventory/system_messages.h"
#include "resources/texts.h"
#include "tests/support/edid_builder.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

const std::string kSamples = std::string(GLIMMORA_TEST_DATA_DIR) + "/offline";

// The file's path as messages show it.
std::string SamplePath(const std::string& file) {
#ifdef _WIN32
  return kSamples + "\\" + file;
#else
  return kSamples + "/" + file;
#endif
}

class OfflineRegistryTest : public ::testing::Test {
 protected:
  int Connect(const std::string& name) {
    ids_.clear();
    return ConnectRemoteRegistry(registry_, name, &root_, &ids_, &error_);
  }
  MonitorTable Scan(const std::string& deviceId) {
    MonitorTable table;
    EXPECT_EQ(ScanDisplayMonitors(registry_, root_, deviceId, table, &error_), 0) << error_;
    return table;
  }
  void TearDown() override {
    if (root_ != kNoKey) registry_.RegCloseKey(root_);
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
  }
  std::string ErrorPrefix(const std::string& name, long code) {
    return LoadText(kTextRegistryOpenError) + " : Key=" + name + " Code=" + std::to_string(code) +
           " Desc=";
  }

  testing::EnglishMessages english_;
  OfflineRegistry registry_{kSamples};
  RegKey root_ = kNoKey;
  std::vector<std::string> ids_;
  std::string error_;
};

TEST_F(OfflineRegistryTest, ReadsAUnicodeExport) {
  ASSERT_EQ(Connect("PC-UNICODE"), 0) << error_;
  EXPECT_EQ(ids_, (std::vector<std::string>{"DEL4065", "EIZ2243", "ACR0282", "Default_Monitor"}));

  MonitorTable dell = Scan("DEL4065");
  ASSERT_EQ(dell.RowCount(), 2u);
  EXPECT_EQ(RowAt(dell, 0),
            (MonitorRow{"Monitor", "Dell U2412M (Digital)", "(Standard monitor types)",
                        "MONITOR\\DEL4065", "DELL U2412M", "Y1H5T27S0ALL",
                        "W:52cm x H:32cm (24.0\")", "2012/5", "1.3"}));

  MonitorTable eizo = Scan("EIZ2243");
  ASSERT_EQ(eizo.RowCount(), 1u);
  EXPECT_EQ(eizo.model[0], "EV2455");  // from a 384-byte block
#ifndef _WIN32
  EXPECT_EQ(eizo.description[0], "EIZO 汎用 PnP モニター, 24\"");
#endif

  MonitorTable acer = Scan("ACR0282");
  ASSERT_EQ(acer.RowCount(), 1u);
  EXPECT_EQ(acer.description[0], "Acer \"Quoted\" C:\\Path\\");
  EXPECT_EQ(acer.model[0], "<UNKNOWN>");
  EXPECT_EQ(acer.serialNumber[0], "<UNKNOWN>");

  MonitorTable fallback = Scan("Default_Monitor");
  ASSERT_EQ(fallback.RowCount(), 1u);
  EXPECT_EQ(fallback.edidVersion[0], "<UNKNOWN>");
}

TEST_F(OfflineRegistryTest, ReadsARegedit4ExportWhateverTheCaseOfItsName) {
  ASSERT_EQ(Connect("PC-ANSI"), 0) << error_;
  EXPECT_EQ(ids_, std::vector<std::string>{"GSM5B09"});
  MonitorTable lg = Scan("GSM5B09");
  ASSERT_EQ(lg.RowCount(), 1u);
  EXPECT_EQ(RowAt(lg, 0),
            (MonitorRow{"Monitor", "LG FULLHD(HDMI)", "LG", "MONITOR\\GSM5B09", "LG FULLHD",
                        "<UNKNOWN>", "W:48cm x H:27cm (21.7\")", "2019/8", "1.3"}));
}

TEST_F(OfflineRegistryTest, DisplayKeyEmptyOrMissing) {
  EXPECT_EQ(Connect("EMPTY-DISPLAY"), 0);
  EXPECT_TRUE(ids_.empty());
  registry_.RegCloseKey(root_);
  root_ = kNoKey;
  EXPECT_EQ(Connect("NO-DISPLAY"), -1);
  EXPECT_EQ(error_, ErrorPrefix("NO-DISPLAY", 2) + LocalSystemMessageText(2));
}

TEST_F(OfflineRegistryTest, MissingFileIsAnUnknownWorkstation) {
  EXPECT_EQ(Connect("PC-NOWHERE"), -1);
  EXPECT_EQ(error_, ErrorPrefix("PC-NOWHERE", 53) + LocalSystemMessageText(53) + " (no file " +
                        SamplePath("PC-NOWHERE.reg") + ")");
}

TEST_F(OfflineRegistryTest, MalformedFileNamesFileAndLine) {
  EXPECT_EQ(Connect("BROKEN"), -1);
  const std::string diagnostic =
      SamplePath("BROKEN.reg") + " line 7: a string without its closing quote";
  EXPECT_EQ(error_,
            ErrorPrefix("BROKEN", 1009) + LocalSystemMessageText(1009) + " (" + diagnostic + ")");
  EXPECT_EQ(Connect("BROKEN4"), -1);
  EXPECT_NE(error_.find("BROKEN4.reg line 5: a hex byte"), std::string::npos) << error_;
  EXPECT_EQ(Connect("NOT-AN-EXPORT"), -1);
  EXPECT_NE(error_.find("NOT-AN-EXPORT.reg line 1: not a registry export"), std::string::npos);
  // The diagnostic went with the failed connect's description; none lingers.
  EXPECT_EQ(registry_.SystemMessageText(1009), LocalSystemMessageText(1009));
}

// A name must not reach a file outside the directory, or a device.
TEST_F(OfflineRegistryTest, NamesThatCannotBeFileNamesAreRefused) {
  for (const std::string& name : std::vector<std::string>{
           "../offline/PC-UNICODE", "..", "offline/../PC-UNICODE", "/etc/passwd", "a\\PC-UNICODE",
           "C:PC-UNICODE", "PC\x01", "PC\x7F", "PC*", "PC?", "<PC>", "PC|1", "\"PC\"", "CON", "nul",
           "com1", "LPT9.x", std::string(252, 'x')}) {
    EXPECT_EQ(Connect(name), -1) << name;
    EXPECT_EQ(error_.substr(0, ErrorPrefix(name, 123).size()), ErrorPrefix(name, 123)) << name;
  }
  EXPECT_TRUE(IsExportFileName("PC-01.example.com"));
  EXPECT_TRUE(IsExportFileName("192.168.1.20"));
  EXPECT_TRUE(IsExportFileName("CONSOLE"));
  EXPECT_TRUE(IsExportFileName(std::string(251, 'x')));
#ifndef _WIN32
  EXPECT_EQ(Connect("PC\xff"), -1);  // not UTF-8
  EXPECT_NE(error_.find("Code=123"), std::string::npos);
#endif
}

TEST_F(OfflineRegistryTest, MissingDirectory) {
  OfflineRegistry nowhere(kSamples + "/no-such-directory");
  RegKey root = kNoKey;
  std::string description;
  EXPECT_EQ(nowhere.ConnectWithin("PC-UNICODE", kHkeyLocalMachine, Deadline(), &root, &description),
            kErrorBadNetPath);
  EXPECT_NE(description.find("no-such-directory"), std::string::npos) << description;
}

// One instance key of an export, with its EDID and, when plugged in, the
// volatile Control key.
std::string ExportInstance(const std::string& deviceId, const std::string& instance,
                           const std::string& model, const std::string& serial, bool control) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\" +
                          deviceId + "\\" + instance;
  std::string text = key + "]\n\"DeviceDesc\"=\"Generic PnP Monitor\"\n\"Class\"=\"Monitor\"\n" +
                     "\"Mfg\"=\"(Standard monitor types)\"\n\n";
  if (control) text += key + "\\Control]\n\"ActiveService\"=\"monitor\"\n\n";
  text += key + "\\Device Parameters]\n\"EDID\"=hex:";
  const std::vector<std::uint8_t> edid = testing::MakeEdid({model, serial});
  for (std::size_t i = 0; i < edid.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", edid[i]);
    text += (i == 0 ? "" : ",") + std::string(byte);
  }
  return text + "\n\n";
}

std::vector<std::pair<std::string, Presence>> Presences(const Examination& examination) {
  std::vector<std::pair<std::string, Presence>> result;
  for (const ReportedMonitor& monitor : examination.monitors)
    result.emplace_back(monitor.row[kColumnSerialNumber], monitor.details.presence);
  return result;
}

// Present, ghost or unknown on exports: a Control key marks the instance
// present, its absence a ghost, but only in an export that has one at all
// (one made from a hive file has none, and says nothing). Ghosts are left
// out before the duplicate-row rule, which then applies to what remains;
// a duplicate that is present makes the row it duplicates present.
TEST(OfflinePresence, PresentGhostAndUnknownThroughTheExamination) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("glimmora-presence-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  const std::string header = "REGEDIT4\n\n";
  {
    std::ofstream live(dir / "LIVE.reg", std::ios::binary);
    live << header << ExportInstance("DEL1", "1&1&0&UID1", "DELL A", "SN-GHOST", false)
         << ExportInstance("DEL1", "1&1&0&UID2", "DELL A", "SN-SAME", false)
         << ExportInstance("DEL1", "1&1&0&UID3", "DELL A", "SN-SAME", true)
         << ExportInstance("DEL2", "1&1&0&UID4", "DELL B", "SN-HERE", true);
    std::ofstream hive(dir / "HIVE.reg", std::ios::binary);
    hive << header << ExportInstance("DEL1", "1&1&0&UID1", "DELL A", "SN-1", false)
         << ExportInstance("DEL1", "1&1&0&UID2", "DELL A", "SN-2", false);
  }
  OfflineRegistry registry(dir.string());
  const ExaminationOptions everything{true, false};
  const ExaminationOptions presentOnly{false, true};

  Examination live = ExamineWorkstation(registry, "LIVE", nullptr, Deadline(), everything);
  ASSERT_EQ(live.outcome, ExaminationOutcome::kMonitorsFound) << live.errorText;
  EXPECT_EQ(Presences(live), (std::vector<std::pair<std::string, Presence>>{
                                 {"SN-GHOST", Presence::kGhost},
                                 {"SN-SAME", Presence::kPresent},  // its duplicate is there
                                 {"SN-HERE", Presence::kPresent}}));
  live = ExamineWorkstation(registry, "LIVE", nullptr, Deadline(), presentOnly);
  EXPECT_EQ(Presences(live),
            (std::vector<std::pair<std::string, Presence>>{{"SN-SAME", Presence::kPresent},
                                                           {"SN-HERE", Presence::kPresent}}));
  // By default nothing more is read: no presence, and the same rows as ever.
  live = ExamineWorkstation(registry, "LIVE", nullptr);
  ASSERT_EQ(live.monitors.size(), 3u);
  EXPECT_EQ(live.monitors[0].details.presence, Presence::kUnknown);
  EXPECT_TRUE(live.monitors[0].details.edid.has_value());

  Examination hive = ExamineWorkstation(registry, "HIVE", nullptr, Deadline(), presentOnly);
  EXPECT_EQ(Presences(hive), (std::vector<std::pair<std::string, Presence>>{
                                 {"SN-1", Presence::kUnknown}, {"SN-2", Presence::kUnknown}}));
  live.remoteRoot.reset();
  hive.remoteRoot.reset();
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace glimmora
