#include "batch/batch_worker.h"
#include "batch/csv_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inventory/edid/edid_dump.h"
#include "resources/texts.h"
#include "tests/batch/limited_output.h"
#include "tests/support/batch_fixture.h"
#include "tests/support/forwarding_registry.h"

namespace glimmora {
namespace {

using testing::LimitedOutput;
using testing::ParseCsvLine;
using testing::ReadBytes;
using testing::WriteBytes;

constexpr const char* kGenericDescription =
    "@monitor.inf,%pnpmonitor.devicedesc%;Generic PnP Monitor";
constexpr const char* kGenericMfg = "@monitor.inf,%generic%;(Standard monitor types)";

// A 60 x 34 cm monitor made in week 10 of 2020 (March in every time zone).
void AddMonitor(MemoryWorkstation& ws, const std::string& deviceId, const std::string& instance,
                const std::string& model, const std::string& serial,
                const std::string& description = kGenericDescription) {
  testing::AddTestMonitor(ws, deviceId, instance, model, serial, {kGenericMfg, description},
                          {.widthCm = 60, .heightCm = 34, .week = 10, .year = 2020});
}

// Passes everything to the memory registry and calls a hook when a key is
// opened, so a test can ask for a stop in the middle of a scan.
class HookedRegistry : public testing::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;
  long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                     std::uint32_t sam, RegKey* result) override {
    if (onOpen) onOpen(subKey);
    return ForwardingRegistry::RegOpenKeyExA(key, subKey, options, sam, result);
  }

  std::function<void(const std::string&)> onOpen;
};

class BatchWorkerTest : public ::testing::Test, protected testing::BatchRunFixture {};

TEST_F(BatchWorkerTest, WritesOneLinePerReportableMonitor) {
  MemoryWorkstation& pc01 = registry_.AddWorkstation("PC01");
  AddMonitor(pc01, "DELD11D", "5&1&0&UID4352", "DELL S3222HN", "2NQHQD3");
  AddMonitor(pc01, "GSM5A49", "5&2&0&UID4353", "24MB35", "");  // model only
  AddMonitor(pc01, "SHP4353", "5&3&0&UID4354", "", "SN-7");    // serial only
  AddMonitor(pc01, "BOE0964", "5&4&0&UID4355", "", "");        // neither: dropped

  RunInput("pc01\n");

  ExpectFinished();
  const std::vector<std::string> lines = ResultLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0],
            "PC01,DELD11D,Monitor,\"@monitor.inf,%pnpmonitor.devicedesc%;Generic PnP Monitor\","
            "\"@monitor.inf,%generic%;(Standard monitor types)\",MONITOR\\DELD11D,DELL S3222HN,"
            "2NQHQD3,W:60cm x H:34cm (27.2\"),2020/3,1.3");
  const std::vector<std::string> modelOnly = ParseCsvLine(lines[1]);
  ASSERT_EQ(modelOnly.size(), 11u);
  EXPECT_EQ(modelOnly[6], "24MB35");
  EXPECT_EQ(modelOnly[7], "<UNKNOWN>");
  const std::vector<std::string> serialOnly = ParseCsvLine(lines[2]);
  ASSERT_EQ(serialOnly.size(), 11u);
  EXPECT_EQ(serialOnly[6], "<UNKNOWN>");
  EXPECT_EQ(serialOnly[7], "SN-7");
}

TEST_F(BatchWorkerTest, UnreachableAndUnopenableWorkstationsGetAFailureLine) {
  AddMonitor(registry_.AddWorkstation("PC01"), "DELD11D", "5&1&0&UID4352", "DELL", "1");
  probe_.Answer("PC01", 2, "(Error: Request timed out 10.0.0.1)");
  probe_.Answer("PC02", 1, "(Error: Could not find host PC02, or so)");
  registry_.AddWorkstation("PC03");
  registry_.FailConnect("PC03", 5);

  RunInput("pc01\npc02\npc03\nPC04\n");

  ExpectFinished();
  const std::vector<std::string> lines = ResultLines();
  ASSERT_EQ(lines.size(), 4u);
  // Unreachable: the probe's text, and the registry is left alone.
  EXPECT_EQ(lines[0], "PC01,,,,,,,,,,,(Error: Request timed out 10.0.0.1)");
  EXPECT_EQ(lines[1], "PC02,,,,,,,,,,,\"(Error: Could not find host PC02, or so)\"");
  for (std::size_t i = 2; i < 4; ++i) {
    const std::vector<std::string> fields = ParseCsvLine(lines[i]);
    ASSERT_EQ(fields.size(), 12u) << lines[i];
    const std::string name = i == 2 ? "PC03" : "PC04";
    EXPECT_EQ(fields[0], name);
    for (std::size_t f = 1; f < 11; ++f) EXPECT_EQ(fields[f], "");
    const std::string code = i == 2 ? "5" : "53";
    EXPECT_EQ(fields[11].rfind("Registry Open Error : Key=" + name + " Code=" + code + " Desc=", 0),
              0u)
        << fields[11];
  }
}

TEST_F(BatchWorkerTest, WorkstationsWithoutReportableMonitorsGetTheNoMonitorLine) {
  registry_.AddWorkstation("EMPTY").AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY");
  AddMonitor(registry_.AddWorkstation("PANEL"), "BOE0964", "5&1&0&UID4352", "", "");
  MemoryWorkstation& ghost = registry_.AddWorkstation("GHOST");
  ghost.AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\Default_Monitor\\1&8713bca&0&UID0");

  RunInput("empty\npanel\nghost\n");

  ExpectFinished();
  const std::vector<std::string> lines = ResultLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0] + "\r\n", FormatNoMonitorLine("EMPTY"));
  EXPECT_EQ(lines[1] + "\r\n", FormatNoMonitorLine("PANEL"));
  EXPECT_EQ(lines[2] + "\r\n", FormatNoMonitorLine("GHOST"));
}

// A real LG L1720P names itself in its first name descriptor, leaves the
// last one blank and has no serial descriptor: its row has neither model nor
// serial number. The specified outputs leave it out, --present-only alone
// too (it shows no more than those columns); the outputs that show the
// inventory model and serial report it by them, its own cells unchanged, and
// once for two equal rows. A monitor whose EDID names nothing stays out.
TEST_F(BatchWorkerTest, AMonitorKnownOnlyByItsInventoryIdentityIsReportedWhereThatIsShown) {
  std::vector<std::uint8_t> lg;
  std::string error;
  ASSERT_EQ(
      ParseEdidDump(ReadBytes(GLIMMORA_TEST_DATA_DIR "/edid-corpus/0B99212C502C.txt"), &lg, &error),
      0)
      << error;
  MemoryWorkstation& pc01 = registry_.AddWorkstation("PC01");
  for (const char* instance : {"5&1&0&UID4352", "5&1&0&UID4353"})
    pc01.AddMonitor("GSM4383", instance, kGenericMfg, kGenericDescription, "Monitor",
                    "MONITOR\\GSM4383", lg);
  AddMonitor(pc01, "BOE0964", "5&2&0&UID4354", "", "");

  auto examine = [&](const ReportLayout& layout, WorkstationResult* result) {
    services_.layout = layout;
    std::vector<std::string> lines;
    EXPECT_EQ(
        ExamineIntoLines(
            services_, *ResultFormatFor(layout), "PC01", [] { return false; }, &lines, result),
        WorkstationOutcome::kFinished);
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
    return lines;
  };
  WorkstationResult result = WorkstationResult::kMonitors;
  ReportLayout presentOnly;
  presentOnly.presentOnly = true;
  for (const ReportLayout& layout : {ReportLayout{}, presentOnly}) {
    EXPECT_EQ(examine(layout, &result), std::vector<std::string>{FormatNoMonitorLine("PC01")});
    EXPECT_EQ(result, WorkstationResult::kNoMonitorInfo);
  }

  ReportLayout extended;
  extended.extendedColumns = true;
  std::vector<std::string> lines = examine(extended, &result);
  EXPECT_EQ(result, WorkstationResult::kMonitors);
  ASSERT_EQ(lines.size(), 1u);
  ASSERT_EQ(lines[0].substr(lines[0].size() - 2), "\r\n");
  const std::vector<std::string> fields = ParseCsvLine(lines[0].substr(0, lines[0].size() - 2));
  ASSERT_EQ(fields.size(), 23u) << lines[0];
  EXPECT_EQ(std::vector<std::string>(fields.begin(), fields.begin() + 11),
            (std::vector<std::string>{"PC01", "GSM4383", "Monitor", kGenericDescription,
                                      kGenericMfg, "MONITOR\\GSM4383", "<UNKNOWN>", "<UNKNOWN>",
                                      "W:34cm x H:27cm (17.1\")", "2004/2", "1.3"}));
  EXPECT_EQ(std::vector<std::string>(fields.begin() + 15, fields.begin() + 18),
            (std::vector<std::string>{"L1720P", "272143", "id-number"}));
  EXPECT_EQ(fields.back(), "GSM-4383-S:272143");

  ReportLayout json;
  json.format = ReportFormat::kJson;
  lines = examine(json, &result);
  EXPECT_EQ(result, WorkstationResult::kMonitors);
  ASSERT_EQ(lines.size(), 1u);
  for (const char* field : {"\"monitorId\":\"GSM4383\"", "\"model\":null", "\"serialNumber\":null",
                            "\"inventoryModel\":\"L1720P\"", "\"inventorySerial\":\"272143\""})
    EXPECT_NE(lines[0].find(field), std::string::npos) << field << " in " << lines[0];
}

TEST_F(BatchWorkerTest, DuplicatesAreJudgedOnWholeLinesWithinOneWorkstation) {
  MemoryWorkstation& pc01 = registry_.AddWorkstation("PC01");
  AddMonitor(pc01, "DELD11D", "5&1&0&UID4352", "DELL S3222HN", "2NQHQD3", "Generic Monitor");
  // The same row in other letter case: dropped, the first is kept.
  AddMonitor(pc01, "DELD11D", "5&1&0&UID4353", "Dell S3222hn", "2nqhqd3", "GENERIC MONITOR");
  // The same row under another identifier: written.
  AddMonitor(pc01, "DELD11E", "5&1&0&UID4354", "DELL S3222HN", "2NQHQD3", "Generic Monitor");
  pc01.SetString("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\DELD11E\\5&1&0&UID4354", "HardwareID",
                 "MONITOR\\DELD11D");
  MemoryWorkstation& pc02 = registry_.AddWorkstation("PC02");
  AddMonitor(pc02, "DELD11D", "5&1&0&UID4352", "DELL S3222HN", "2NQHQD3", "Generic Monitor");

  RunInput("pc01\npc02\nPC01\n");

  ExpectFinished();
  const std::vector<std::string> lines = ResultLines();
  ASSERT_EQ(lines.size(), 5u);
  const std::string first =
      ",DELD11D,Monitor,Generic Monitor,\"@monitor.inf,%generic%;(Standard monitor types)\","
      "MONITOR\\DELD11D,DELL S3222HN,2NQHQD3,W:60cm x H:34cm (27.2\"),2020/3,1.3";
  std::string second = first;
  second.replace(second.find("DELD11D"), 7, "DELD11E");
  EXPECT_EQ(lines[0], "PC01" + first);
  EXPECT_EQ(lines[1], "PC01" + second);
  // Another workstation, and the same one named again, are written again.
  EXPECT_EQ(lines[2], "PC02" + first);
  EXPECT_EQ(lines[3], "PC01" + first);
  EXPECT_EQ(lines[4], "PC01" + second);
}

TEST_F(BatchWorkerTest, EveryNameIsTriedThroughTheRegistryWhenThereIsNoProbe) {
  AddMonitor(registry_.AddWorkstation("PC01"), "DELD11D", "5&1&0&UID4352", "DELL", "1");
  probe_.Answer("PC01", -1, "(Error: Could not load ICMP.DLL for PING.)");

  RunInput("pc01\n");
  ExpectFinished();
  ASSERT_EQ(ResultLines().size(), 1u);
  EXPECT_EQ(ParseCsvLine(ResultLines()[0]).size(), 11u);

  services_.probe = nullptr;
  RunInput("pc01\n");
  ExpectFinished();
  ASSERT_EQ(ResultLines().size(), 1u);
}

TEST_F(BatchWorkerTest, InputLinesFollowTheFileRules) {
  for (const char* name : {"PC01", "PC02", "PC03", "PC04", "PC05"})
    AddMonitor(registry_.AddWorkstation(name), "DELD11D", "5&1&0&UID4352", "DELL", name);

  RunInput(
      "# comment\r\n\r\n  pc01, desk 1\r\n\"PC02\"\r\n\\\\PC02\r\n;PC02\r\n"
      "pc03\tthird\r\n   \r\npc04\r\x1Apc05\r\n");

  ExpectFinished();
  std::vector<std::string> names;
  for (const std::string& line : ResultLines()) names.push_back(ParseCsvLine(line)[0]);
  EXPECT_EQ(names, (std::vector<std::string>{"PC01", "PC03", "PC04"}));
  EXPECT_EQ(probe_.Calls(), (std::vector<std::string>{"PC01", "PC03", "PC04"}));
  EXPECT_EQ(state_.linesRead.load(), 9u);
}

TEST_F(BatchWorkerTest, AnInputWithoutNamesGivesTheHeaderAlone) {
  RunInput("# nothing to do\n\n");
  ExpectFinished();
  EXPECT_EQ(ReadBytes(outputPath_), FormatHeaderLine());
  // The end of the file after the last line end is no line of its own.
  EXPECT_EQ(state_.linesRead.load(), 2u);
}

TEST_F(BatchWorkerTest, AStopDuringAScanKeepsTheFinishedWorkstationsOnly) {
  for (const char* name : {"PC01", "PC02", "PC03"}) {
    MemoryWorkstation& ws = registry_.AddWorkstation(name);
    AddMonitor(ws, "DELD11D", "5&1&0&UID4352", "DELL", std::string(name) + "-A");
    AddMonitor(ws, "DELD11D", "5&1&0&UID4353", "DELL", std::string(name) + "-B");
    AddMonitor(ws, "GSM5A49", "5&2&0&UID4354", "LG", std::string(name) + "-C");
  }
  HookedRegistry hooked(registry_);
  services_.registry = &hooked;
  std::string current;
  probe_.onProbe = [&](const std::string& name) { current = name; };
  // The stop arrives during the scan of PC02's last identifier: only the
  // test between its rows can see it.
  hooked.onOpen = [&](const std::string& key) {
    if (current == "PC02" &&
        key.find("GSM5A49\\5&2&0&UID4354\\Device Parameters") != std::string::npos)
      state_.RequestStop();
  };

  RunInput("pc01\npc02\npc03\n");

  ExpectFinished();  // a stop is no failure; every key is closed again
  const std::vector<std::string> lines = ResultLines();
  ASSERT_EQ(lines.size(), 3u);
  for (const std::string& line : lines) EXPECT_EQ(line.substr(0, 5), "PC01,");
  EXPECT_EQ(probe_.Calls(), (std::vector<std::string>{"PC01", "PC02"}));
}

TEST_F(BatchWorkerTest, AStopBetweenIdentifiersClosesTheRemoteKey) {
  MemoryWorkstation& ws = registry_.AddWorkstation("PC01");
  AddMonitor(ws, "DELD11D", "5&1&0&UID4352", "DELL", "A");
  AddMonitor(ws, "GSM5A49", "5&2&0&UID4353", "LG", "B");
  HookedRegistry hooked(registry_);
  services_.registry = &hooked;
  hooked.onOpen = [&](const std::string& key) {
    if (key.find("UID4352\\Device Parameters") != std::string::npos) state_.RequestStop();
  };
  RunInput("pc01\n");
  ExpectFinished();
  EXPECT_EQ(ReadBytes(outputPath_), FormatHeaderLine());
}

TEST_F(BatchWorkerTest, AMissingInputLeavesAnExistingOutputUntouched) {
  WriteBytes(outputPath_, "last week's inventory\r\n");
  RunBatch(state_, services_, dir_.File("missing.txt"), outputPath_);
  ExpectFailure(kTextInputOpenError);
  EXPECT_EQ(state_.failurePath, dir_.File("missing.txt"));
  EXPECT_EQ(ReadBytes(outputPath_), "last week's inventory\r\n");
}

TEST_F(BatchWorkerTest, ADirectoryAsInputLeavesTheOutputUntouched) {
  WriteBytes(outputPath_, "last week's inventory\r\n");
  RunBatch(state_, services_, dir_.path().string(), outputPath_);
  ExpectFailure(kTextInputOpenError);
  EXPECT_EQ(ReadBytes(outputPath_), "last week's inventory\r\n");
}

TEST_F(BatchWorkerTest, TheInputIsNeverOpenedAsTheOutput) {
  const std::string list = "pc01\npc02\n";
  WriteBytes(inputPath_, list);
  const std::string sameFile = dir_.File("./workstations.txt");
  RunBatch(state_, services_, inputPath_, sameFile);
  ExpectFailure(kTextOutputOpenError);
  EXPECT_EQ(state_.failurePath, sameFile);
  EXPECT_EQ(ReadBytes(inputPath_), list);
}

TEST_F(BatchWorkerTest, AMissingOutputDirectoryIsAnOpenError) {
  WriteBytes(inputPath_, "pc01\n");
  RunBatch(state_, services_, inputPath_, dir_.File("no-such-directory/inventory.csv"));
  ExpectFailure(kTextOutputOpenError);
  EXPECT_TRUE(probe_.Calls().empty());
}

TEST_F(BatchWorkerTest, AShortHeaderWriteEndsTheBatch) {
  AddMonitor(registry_.AddWorkstation("PC01"), "DELD11D", "5&1&0&UID4352", "DELL", "1");
  services_.openOutputFile = [](const std::string& path,
                                std::string*) -> std::unique_ptr<OutputStream> {
    return std::make_unique<LimitedOutput>(OpenOutputFile(path), 7);
  };
  RunInput("pc01\n");
  ExpectFailure(kTextOutputWriteError);
  EXPECT_EQ(ReadBytes(outputPath_), FormatHeaderLine().substr(0, 7));
  EXPECT_TRUE(probe_.Calls().empty());
}

#ifdef __linux__
TEST_F(BatchWorkerTest, AFullDiskIsReportedAsAWriteError) {
  AddMonitor(registry_.AddWorkstation("PC01"), "DELD11D", "5&1&0&UID4352", "DELL", "1");
  WriteBytes(inputPath_, "pc01\n");
  RunBatch(state_, services_, inputPath_, "/dev/full");
  ExpectFailure(kTextOutputWriteError);
}
#endif

TEST_F(BatchWorkerTest, EachBatchStartsWithAClearReport) {
  RunBatch(state_, services_, dir_.File("missing.txt"), outputPath_);
  ExpectFailure(kTextInputOpenError);
  RunInput("");
  ExpectFinished();
}

TEST_F(BatchWorkerTest, TheCurrentWorkstationFollowsTheWork) {
  registry_.AddWorkstation("PC01");
  registry_.AddWorkstation("PC02");
  std::vector<std::string> seen;
  probe_.onProbe = [&](const std::string&) { seen.push_back(state_.CurrentWorkstation()); };
  RunInput("pc01\n#pc09\npc02\n");
  EXPECT_EQ(seen, (std::vector<std::string>{"PC01", "PC02"}));
  EXPECT_EQ(state_.CurrentWorkstation(), "");
}

// The thread body when the platform start fails (the body that runs is in
// parallel_batch_test.cpp, for one job and for several).
class BatchThreadTest : public BatchWorkerTest {
 protected:
  void StartAndWait() {
    state_.inputPath = inputPath_;
    state_.outputPath = outputPath_;
    ASSERT_TRUE(thread_.StartAndWait(state_, services_));
  }

  testing::BatchThreadRun thread_;
};

TEST_F(BatchThreadTest, AThreadThatCannotStartReportsAFailure) {
  WriteBytes(inputPath_, "pc01\n");
  // An earlier batch finished well; its report must not stand for this one.
  state_.failed = 0;
  int ends = 0;
  services_.startThread = [](std::string* text) {
    *text = "WSAStartup : Code=10091 Desc=The network subsystem is unavailable.";
    return 10091;
  };
  services_.endThread = [&] { ++ends; };

  StartAndWait();

  EXPECT_EQ(state_.failed, -1);
  EXPECT_EQ(state_.failureStyle, kFailureStyleError);
  EXPECT_EQ(state_.failureText,
            "WSAStartup : Code=10091 Desc=The network subsystem is unavailable.");
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(thread_.notifications(), 1);
  EXPECT_FALSE(std::filesystem::exists(outputPath_));
  EXPECT_TRUE(probe_.Calls().empty());
}

TEST(PlatformBatchServices, StartsAndEndsTheWorkerThread) {
  BatchServices services = PlatformBatchServices();
  ASSERT_TRUE(services.startThread);
  ASSERT_TRUE(services.endThread);
  std::string text;
  int result = -1;
  std::thread worker([&] {
    result = services.startThread(&text);
    services.endThread();
  });
  worker.join();
  EXPECT_EQ(result, 0) << text;
  EXPECT_EQ(services.finishPause, std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace glimmora
