// Registries far outside what Plug and Play leaves behind, and workstation
// names that try to leave the export directory, read through the offline back
// end and the glimmora program itself.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "inventory/monitor_table.h"
#include "inventory/offline/registry_offline.h"
#include "inventory/registry/registry_scan.h"
#include "tests/faults/export_writer.h"
#include "tests/support/edid_builder.h"
#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

namespace fs = std::filesystem;
using testing::EdidSpec;
using testing::ExportWriter;
using testing::MakeEdid;
using testing::NativePath;

long ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return getpid();
#endif
}

class OfflineFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Named after the test and the process: runs side by side must not share it.
    directory_ = fs::temp_directory_path() /
                 ("glimmora-faults-" +
                  std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                  "-" + std::to_string(ProcessId()));
    fs::remove_all(directory_);
    fs::create_directories(directory_);
  }
  // Under Wine an ended child can hold its output file a moment longer; a
  // directory left behind is no failure of the test.
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  testing::ProcessResult Check(const std::string& directory, const std::string& workstation) {
    return testing::RunProcess(
        GLIMMORA_CLI_PATH,
        {"check", "--offline", NativePath(directory), "--format", "csv", "--", workstation},
        (directory_ / "run").string());
  }

  // Every row of every device identifier, as the readers get them.
  std::vector<MonitorRow> ScanAll(const std::string& workstation) {
    OfflineRegistry registry(directory_.string());
    RegKey root = kNoKey;
    std::vector<std::string> deviceIds;
    std::string error;
    EXPECT_EQ(ConnectRemoteRegistry(registry, workstation, &root, &deviceIds, &error), 0) << error;
    std::vector<MonitorRow> rows;
    MonitorTable table;
    for (const std::string& id : deviceIds) {
      EXPECT_EQ(ScanDisplayMonitors(registry, root, id, table, &error), 0) << error;
      for (std::size_t i = 0; i < table.RowCount(); ++i) rows.push_back(RowAt(table, i));
    }
    registry.RegCloseKey(root);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
    return rows;
  }

  fs::path directory_;
  testing::ScopedEnv english_{"LC_ALL", "C"};
};

std::size_t CountLines(const std::string& text) {
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

// Far more than a workstation collects over its life; a duplicate test that
// reads every earlier row for each new one takes minutes here. The sanitizer
// builds take 5,000: there the time says little about the program.
TEST_F(OfflineFaultsTest, DisplayKeyWithThousandsOfInstances) {
#ifdef __SANITIZE_ADDRESS__
  constexpr int kInstances = 5000;
#else
  constexpr int kInstances = 20000;
#endif
  ExportWriter file;
  for (int i = 0; i < kInstances; ++i) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SN%05d", i);
    file.Monitor("DEL4321", "5&inst" + std::to_string(i), MakeEdid({"WALL", serial}), "Dell WALL");
  }
  // The last one again, letter case aside: listed once.
  char last[16];
  std::snprintf(last, sizeof last, "sn%05d", kInstances - 1);
  file.Monitor("DEL4321", "5&again", MakeEdid({"wall", last}), "dell wall");
  ASSERT_TRUE(file.Save((directory_ / "WALL.reg").string()));

  const auto start = std::chrono::steady_clock::now();
  const std::vector<MonitorRow> rows = ScanAll("WALL");
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kInstances) + 1);
  EXPECT_EQ(rows.front()[kColumnSerialNumber], "SN00000");
  EXPECT_EQ(rows.back()[kColumnSerialNumber], last);

  // The whole program: every instance a row of its own, nothing lost or merged.
  const testing::ProcessResult result = Check(directory_.string(), "WALL");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(CountLines(result.out), static_cast<std::size_t>(kInstances) + 1);
  EXPECT_NE(result.out.find("DEL4321,Monitor,Dell WALL,(Standard monitor types),MONITOR\\DEL4321,"
                            "WALL,SN00000,"),
            std::string::npos);

  // And a batch of that workstation: a line for each monitor.
  const std::string list = (directory_ / "list.txt").string();
  const std::string output = (directory_ / "inventory.csv").string();
  std::ofstream(list, std::ios::binary) << "wall\n";
  const testing::ProcessResult batch = testing::RunProcess(
      GLIMMORA_CLI_PATH,
      {"batch", "--offline", NativePath(directory_.string()), NativePath(list), NativePath(output)},
      (directory_ / "batch").string());
  EXPECT_EQ(batch.exitCode, 0) << batch.err;
  const std::string lines = testing::ReadWholeFile(output);
  EXPECT_EQ(CountLines(lines), static_cast<std::size_t>(kInstances) + 1);
  EXPECT_NE(lines.find("\r\nWALL,DEL4321,Monitor,Dell WALL,"), std::string::npos);
  // Loose: both take a second or two without sanitizers.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST_F(OfflineFaultsTest, EdidValuesOfAnyLength) {
  // A name and a serial in the descriptors at 72 and 90: whole in 127 bytes.
  const std::vector<std::uint8_t> block = MakeEdid({"LONGNAME", "S123"});
  ExportWriter file;
  for (std::size_t length : {0, 1, 127, 128, 129, 65536}) {
    std::vector<std::uint8_t> edid = block;
    edid.resize(length, 0x5A);
    const std::string id = "LEN" + std::to_string(length);
    file.Monitor(id, "1", length == 0 ? std::vector<std::uint8_t>{} : edid, id);
    if (length == 0) file.Hex("EDID", 3, {});  // present, but empty
  }
  ASSERT_TRUE(file.Save((directory_ / "LENGTHS.reg").string()));

  const std::vector<MonitorRow> rows = ScanAll("LENGTHS");
  ASSERT_EQ(rows.size(), 6u);
  for (const MonitorRow& row : rows) {
    const std::string& id = row[kColumnDescription];
    const bool whole = id != "LEN0" && id != "LEN1";
    EXPECT_EQ(row[kColumnModel], whole ? "LONGNAME" : "<UNKNOWN>") << id;
    EXPECT_EQ(row[kColumnSerialNumber], whole ? "S123" : "<UNKNOWN>") << id;
    // What is missing of a short value reads as zero bytes.
    EXPECT_EQ(row[kColumnMonitorSize], whole ? "W:52cm x H:32cm (24.0\")" : "W:0cm x H:0cm (0.0\")")
        << id;
    EXPECT_EQ(row[kColumnEdidVersion], whole ? "1.3" : "0.0") << id;
  }

  // The program lists the four that carry a name and a serial and drops the rest.
  const testing::ProcessResult result = Check(directory_.string(), "LENGTHS");
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(CountLines(result.out), 5u) << result.out;
  EXPECT_EQ(result.out.find("LEN0,"), std::string::npos);
  EXPECT_EQ(result.out.find("LEN1,"), std::string::npos);
  EXPECT_NE(result.out.find("LEN65536,"), std::string::npos);
}

// A readable export just outside the directory: a name that reached it would
// list its monitor.
TEST_F(OfflineFaultsTest, NamesCannotLeaveTheExportDirectory) {
  ExportWriter secret;
  secret.Monitor("SEC0001", "1", MakeEdid({"SECRET", "S1"}), "outside");
  ASSERT_TRUE(secret.Save((directory_ / "SECRET.reg").string()));
  const fs::path inner = directory_ / "inner";
  fs::create_directories(inner);
  ExportWriter pc;
  pc.Monitor("DEL0001", "1", MakeEdid({"INSIDE", "S2"}), "inside");
  ASSERT_TRUE(pc.Save((inner / "PC.reg").string()));

  ASSERT_EQ(Check(inner.string(), "PC").exitCode, 0);
  ASSERT_EQ(Check(directory_.string(), "SECRET").exitCode, 0);
  const std::string absolute = (directory_ / "SECRET").string();
  for (const std::string& name : std::vector<std::string>{
           "../SECRET", "..\\SECRET", "inner/../../SECRET", absolute, "..", ".", "./PC",
           "SEC\x01RET", "SECRET\x1b[2J", "PC\x7f", "\xff\xfeSECRET", "PC\xc3", "PC\xe3\x81",
           "\xc0\xae\xc0\xae/SECRET", "PC\tSECRET", "CON", std::string(300, 'A')}) {
    const testing::ProcessResult result = Check(inner.string(), name);
    EXPECT_EQ(result.exitCode, 2) << name;
    EXPECT_EQ(result.out, "") << name;
    EXPECT_EQ(result.err.rfind("Registry Open Error : Key=", 0), 0u) << name << ": " << result.err;
  }
}

}  // namespace
}  // namespace glimmora
