// glimmora diff end to end: the sample fleet and the same fleet a month later
// (examples/fleet-later), inventoried by the batch in each format and compared.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

#include "batch/inventory_diff.h"
#include "tests/support/batch_files.h"
#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::NativePath;
using testing::ProcessResult;
using testing::ReadWholeFile;

using glimmora::testing::kSourceDir;

class DiffCommandTest : public ::testing::Test {
 protected:
  // Files of this test's own: ctest runs the tests of the suite side by side.
  static std::string Scratch(const std::string& name) {
    return ::testing::TempDir() + "glimmora_diff_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
  }
  ProcessResult Run(const std::vector<std::string>& args) {
    return testing::RunProcess(GLIMMORA_CLI_PATH, args, Scratch("run"));
  }
  // The inventory of `fleet` in the format the options ask for, as a file.
  std::string Inventory(const std::string& fleet, std::vector<std::string> options) {
    const std::string path = Scratch(fleet + std::to_string(++files_) + ".out");
    std::vector<std::string> args = {"batch", "--offline",
                                     NativePath(kSourceDir + "/examples/" + fleet)};
    if (!options.empty()) {
      // The makers the changes name, the same on every system.
      const std::string pnpIds = Scratch("pnp.ids");
      std::ofstream(pnpIds, std::ios::binary)
          << "DEL\tDell Inc.\nGSM\tLG Electronics\nMEI\tPanasonic Industry Company\n"
             "SAM\tSamsung Electric Company\nVSC\tViewSonic Corporation\n";
      args.insert(args.end(), {"--pnp-ids", NativePath(pnpIds)});
    }
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(NativePath(kSourceDir + "/examples/workstations.txt"));
    args.push_back(NativePath(path));
    const ProcessResult batch = Run(args);
    EXPECT_EQ(batch.exitCode, 0) << batch.err;
    return path;
  }

  testing::ScopedEnv english_{"LC_ALL", "C"};
  int files_ = 0;
};

// Standard error is text: CR LF on Windows.
std::string Lines(std::string text) {
  std::erase(text, '\r');
  return text;
}

constexpr char kCounts[] =
    "glimmora diff: 1 moved, 1 added, 1 removed, 1 now-ghost, 0 now-present, 1 unverified, 1 "
    "duplicate-key\n";

TEST_F(DiffCommandTest, ExtendedColumnsAMonthLater) {
  const std::string before = Inventory("fleet", {"--columns", "extended"});
  const std::string after = Inventory("fleet-later", {"--columns", "extended"});
  const std::string summary = ::testing::TempDir() + "glimmora_diff_summary.json";
  ProcessResult result =
      Run({"diff", "--summary-json", NativePath(summary), NativePath(before), NativePath(after)});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(result.out,
            "Change,Monitor Key,Maker,Model,Serial,Old Workstation,New Workstation,Reason\r\n"
            "moved,SAM-0D20-S:H4ZMC01676,Samsung Electric Company,S24F350,H4ZMC01676,HR-11,"
            "ACCT-10,\r\n"
            "added,VSC-D62F-S:U2W153000401,ViewSonic Corporation,VA2855 SERIES,U2W153000401,,"
            "RECEPTION-05,\r\n"
            "removed,GSM-7766-S:104NTFA73443,LG Electronics,LG ULTRAGEAR,104NTFA73443,DESIGN-03,,"
            "\r\n"
            "now-ghost,GSM-5A49-S:601NTZN2F629,LG Electronics,24MB35,601NTZN2F629,ACCT-01,ACCT-01,"
            "\r\n"
            "unverified,MEI-A296-S:16843010,Panasonic Industry Company,Panasonic-TV,16843010,"
            "MEETING-08,,registry-unreachable\r\n"
            "duplicate-key,DEL-4185-S:4XCV833,Dell Inc.,DELL P2719H,4XCV833,,DESIGN-04; HR-12,"
            "\r\n");
  EXPECT_EQ(Lines(result.err), kCounts);
  const nlohmann::json counts = nlohmann::json::parse(ReadWholeFile(summary));
  EXPECT_EQ(counts["changes"]["moved"], 1);
  EXPECT_EQ(counts["changes"]["now-present"], 0);
  EXPECT_EQ(counts["total"], 6);

  // Nothing changed, 0 as diff(1) says it; the duplicate is still named, once.
  result = Run({"diff", NativePath(after), NativePath(after)});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out,
            "Change,Monitor Key,Maker,Model,Serial,Old Workstation,New Workstation,Reason\r\n"
            "duplicate-key,DEL-4185-S:4XCV833,Dell Inc.,DELL P2719H,4XCV833,DESIGN-04; HR-12,"
            "DESIGN-04; HR-12,\r\n");
}

TEST_F(DiffCommandTest, JsonLinesAMonthLater) {
  const std::string before = Inventory("fleet", {"--format", "jsonl"});
  const std::string after = Inventory("fleet-later", {"--format", "jsonl"});
  const std::string output = ::testing::TempDir() + "glimmora_diff_changes.jsonl";
  const ProcessResult result = Run({"diff", "--format", "jsonl", "-o", NativePath(output),
                                    NativePath(before), NativePath(after)});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(Lines(result.err), kCounts);
  std::istringstream lines(ReadWholeFile(output));
  std::vector<std::string> changes;
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json change = nlohmann::json::parse(line);
    std::string text = change["change"].get<std::string>() + " " +
                       change["monitorKey"].get<std::string>() + " " +
                       change["oldWorkstation"].dump() + " " + change["newWorkstation"].dump();
    if (change.contains("reason")) text += " " + change["reason"].get<std::string>();
    changes.push_back(text);
  }
  EXPECT_EQ(changes, (std::vector<std::string>{
                         R"(moved SAM-0D20-S:H4ZMC01676 "HR-11" "ACCT-10")",
                         R"(added VSC-D62F-S:U2W153000401 null "RECEPTION-05")",
                         R"(removed GSM-7766-S:104NTFA73443 "DESIGN-03" null)",
                         R"(now-ghost GSM-5A49-S:601NTZN2F629 "ACCT-01" "ACCT-01")",
                         R"(unverified MEI-A296-S:16843010 "MEETING-08" null registry-unreachable)",
                         R"(duplicate-key DEL-4185-S:4XCV833 null "DESIGN-04; HR-12")",
                     }));
}

// The specified columns say nothing of presence: the Samsung's ghost left on
// HR-11 is a second place, and the monitor unplugged at ACCT-01 no change.
TEST_F(DiffCommandTest, SpecifiedColumnsLoseWhatPresenceTells) {
  const std::string before = Inventory("fleet", {});
  const std::string after = Inventory("fleet-later", {});
  const ProcessResult result = Run({"diff", NativePath(before), NativePath(after)});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(
      result.out,
      "Change,Monitor Key,Maker,Model,Serial,Old Workstation,New Workstation,Reason\r\n"
      "added,VSC-D62F-S:U2W153000401,VSC,VA2855 SERIES,U2W153000401,,RECEPTION-05,\r\n"
      "removed,GSM-7766-S:104NTFA73443,GSM,LG ULTRAGEAR,104NTFA73443,DESIGN-03,,\r\n"
      "unverified,MEI-A296-W:MEETING-08,MEI,Panasonic-TV,,MEETING-08,,registry-unreachable\r\n"
      "duplicate-key,DEL-4185-S:4XCV833,DEL,DELL P2719H,4XCV833,,DESIGN-04; HR-12,\r\n"
      "duplicate-key,SAM-0D20-S:H4ZMC01676,SAM,S24F350,H4ZMC01676,,ACCT-10; HR-11,\r\n");
}

// An inventory written before the Monitor Key column existed: the key is made
// again from its Manufacturer Code, Product Code and Inventory Serial.
TEST_F(DiffCommandTest, ExtendedColumnsWithoutTheKeyColumn) {
  const std::string keyed = Inventory("fleet", {"--columns", "extended"});
  std::istringstream lines(ReadWholeFile(keyed));
  std::string older;
  for (std::string line; std::getline(lines, line);) {
    if (older.empty()) {
      line.erase(line.find(",Monitor Key"), 12);
    } else if (const std::size_t reasonCells = line.find(",,");
               reasonCells != std::string::npos && line.find(",Monitor,") == std::string::npos) {
      line.erase(reasonCells, 1);  // one empty cell fewer before the Note
    } else {
      line.erase(line.rfind(','));
      line += '\r';
    }
    older += line + '\n';
  }
  const std::string before = Scratch("unkeyed.csv");
  std::ofstream(before, std::ios::binary) << older;
  const std::string after = Inventory("fleet-later", {"--columns", "extended"});
  const ProcessResult result = Run({"diff", NativePath(before), NativePath(after)});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_EQ(Lines(result.err), kCounts);
  // The Sharp television without a serial is keyed by its workstation in the
  // older file and by its EDID's hash in the newer: one monitor still, found
  // by maker, product and workstation, neither removed nor added.
  EXPECT_EQ(result.out.find("SHP-4353"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("moved,SAM-0D20-S:H4ZMC01676,Samsung Electric Company,S24F350,"
                            "H4ZMC01676,HR-11,ACCT-10,\r\n"),
            std::string::npos)
      << result.out;
}

TEST_F(DiffCommandTest, FilesThatCannotBeComparedAreNamed) {
  const std::string before = Inventory("fleet", {});
  ProcessResult result = Run({"diff", NativePath(before), NativePath(kSourceDir + "/README.md")});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_NE(result.err.find("README.md: is no result file of glimmora batch"), std::string::npos)
      << result.err;
  result = Run({"diff", "-o", NativePath(before), NativePath(before), NativePath(before)});
  EXPECT_EQ(result.exitCode, 64);
  EXPECT_EQ(ReadWholeFile(before).substr(0, 17), "Workstation Name,");
}

// Where a monitor is, when ghosts and failures are about.
TEST(InventoryDiffTest, GhostsLeftBehindAndWorkstationsNotExaminedAreNoChanges) {
  const auto monitor = [](std::string workstation, std::string key, Presence presence) {
    return InventoryMonitor{std::move(workstation), std::move(key), "", "", "", presence};
  };
  Inventory before;
  before.AddMonitor(monitor("PC1", "A", Presence::kPresent));
  before.AddMonitor(monitor("PC1", "B", Presence::kGhost));
  before.AddMonitor(monitor("PC2", "C", Presence::kPresent));
  before.AddMonitor(monitor("PC3", "D", Presence::kPresent));
  before.AddMonitor(monitor("PC4", "E", Presence::kPresent));
  Inventory after;
  // A moved to PC2 and left its ghost; B plugged in again (a second
  // instance, the first still a ghost); PC2 listed twice, failing once.
  after.AddMonitor(monitor("pc1", "A", Presence::kGhost));
  after.AddMonitor(monitor("PC2", "A", Presence::kPresent));
  after.AddMonitor(monitor("PC1", "B", Presence::kGhost));
  after.AddMonitor(monitor("PC1", "B", Presence::kPresent));
  after.AddWorkstation("PC2", WorkstationResult::kNoReply);
  after.AddMonitor(monitor("PC2", "C", Presence::kPresent));
  after.AddWorkstation("PC3", WorkstationResult::kTimedOut);
  std::vector<std::string> changes;
  for (const InventoryChange& change : CompareInventories(before, after))
    changes.push_back(std::string(ChangeName(change.kind)) + " " + change.key + " " +
                      change.oldWorkstation + ">" + change.newWorkstation + " " + change.reason);
  EXPECT_EQ(changes, (std::vector<std::string>{"moved A PC1>PC2 ", "now-present B PC1>PC1 ",
                                               "unverified D PC3> timed-out",
                                               "unverified E PC4> not-listed"}));
}

}  // namespace
}  // namespace glimmora
