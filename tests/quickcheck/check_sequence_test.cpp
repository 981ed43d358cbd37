// The Quick Check sequence with a scripted probe, the in-memory registry and a
// recording page: what the user sees, in which order, and what is left open.
#include <gtest/gtest.h>

#include "quickcheck/check_sequence.h"
#include "reachability/probe.h"
#include "tests/support/edid_builder.h"
#include "tests/support/registry_memory.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::EdidSpec;
using testing::MakeEdid;

// Records every call of the page's parts in one log, with what was open when a
// message box came up.
struct Recorder : ReachabilityProbe, MessageBoxes, WaitCursor {
  explicit Recorder(const MemoryRegistry& registry) : registry(registry) {}

  int Ping(const std::string& workstation, std::string& resultText) override {
    log.push_back("ping " + workstation);
    resultText = pingText;
    return pingResult;
  }
  void Show(const std::string& text, MessageIcon icon) override {
    log.push_back(std::string(icon == MessageIcon::kHand ? "hand: " : "exclamation: ") + text +
                  " [keys " + std::to_string(registry.OpenKeyCount()) +
                  (cursorOn ? ", waiting]" : "]"));
  }
  void Begin() override {
    cursorOn = true;
    log.push_back("wait");
  }
  void End() override {
    cursorOn = false;
    log.push_back("end wait");
  }

  const MemoryRegistry& registry;
  int pingResult = PingReply;
  std::string pingText;
  bool cursorOn = false;
  std::vector<std::string> log;
};

class CheckSequenceTest : public ::testing::Test {
 protected:
  QuickCheckOutcome Check(std::string_view name, bool probe = true) {
    return RunQuickCheck(name, {probe ? &page_ : nullptr, registry_, list_, page_, page_});
  }
  void FillList() { list_.ShowCheck({{"OLD", {"Monitor", "", "", "", "old", "1", "", "", ""}}}); }

  testing::EnglishMessages english_;
  MemoryRegistry registry_;
  Recorder page_{registry_};
  MemoryMonitorList view_;
  MonitorSortState sort_;
  MonitorList list_{view_, sort_};
};

TEST_F(CheckSequenceTest, BlankNameIsReportedAndTheListStays) {
  FillList();
  EXPECT_EQ(Check(" \t\r\n"), QuickCheckOutcome::kNameEmpty);
  EXPECT_EQ(page_.log,
            std::vector<std::string>{"exclamation: Workstation name is not specified. [keys 0]"});
  EXPECT_EQ(view_.ItemCount(), 1u);
  EXPECT_EQ(registry_.ConnectCount(), 0u);
}

TEST_F(CheckSequenceTest, ListsTheMonitorsOfTheTrimmedName) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("DEL4065", "1", "Dell", "Dell U2412M", "Monitor", "MONITOR\\DEL4065",
                  MakeEdid({.model = "DELL U2412M", .serial = "SN1"}))
      .AddMonitor("ACR0001", "1", "Acer", "Acer", "Monitor", "MONITOR\\ACR0001",
                  MakeEdid({.model = "ACER", .serial = "SN2"}))
      .AddMonitor("ACR0001", "2", "Acer", "Acer", "Monitor", "MONITOR\\ACR0001",
                  MakeEdid({.model = "ACER", .serial = "SN2"}))  // the same monitor again
      .AddMonitor("NOEDID", "1", "X", "X", "Monitor", "X", {});  // not reportable
  FillList();
  EXPECT_EQ(Check("  PC1\t"), QuickCheckOutcome::kMonitorsListed);
  EXPECT_EQ(page_.log, (std::vector<std::string>{"wait", "ping PC1", "end wait"}));
  ASSERT_EQ(view_.ItemCount(), 2u);
  EXPECT_EQ(view_.Row(0)[0], "ACR0001");  // sorted by Monitor ID
  EXPECT_EQ(view_.Row(1)[0], "DEL4065");
  EXPECT_EQ(view_.Row(1)[5], "DELL U2412M");
  EXPECT_EQ(registry_.OpenKeyCount(), 0u);
}

TEST_F(CheckSequenceTest, UnreachableWorkstationEmptiesTheListAndSkipsTheRegistry) {
  registry_.AddWorkstation("PC1");
  page_.pingResult = PingTimedOut;
  page_.pingText = "(Error: Request timed out PC1)";
  FillList();
  EXPECT_EQ(Check("PC1"), QuickCheckOutcome::kUnreachable);
  EXPECT_EQ(page_.log, (std::vector<std::string>{"wait", "ping PC1", "end wait",
                                                 "hand: (Error: Request timed out PC1) [keys 0]"}));
  EXPECT_EQ(view_.ItemCount(), 0u);
  EXPECT_EQ(registry_.ConnectCount(), 0u);
}

TEST_F(CheckSequenceTest, ProbeThatCannotRunLetsTheCheckGoOn) {
  registry_.AddWorkstation("PC1").AddMonitor("D", "1", "M", "D", "Monitor", "H",
                                             MakeEdid({.model = "M"}));
  page_.pingResult = PingUnavailable;
  page_.pingText = "(Error: Could not load ICMP.DLL for PING.)";
  EXPECT_EQ(Check("PC1"), QuickCheckOutcome::kMonitorsListed);
  EXPECT_EQ(page_.log, (std::vector<std::string>{"wait", "ping PC1", "end wait"}));
}

TEST_F(CheckSequenceTest, WithoutAProbeNothingIsSent) {
  registry_.AddWorkstation("PC1").AddMonitor("D", "1", "M", "D", "Monitor", "H",
                                             MakeEdid({.model = "M"}));
  EXPECT_EQ(Check("PC1", /*probe=*/false), QuickCheckOutcome::kMonitorsListed);
  EXPECT_EQ(page_.log, (std::vector<std::string>{"wait", "end wait"}));
}

TEST_F(CheckSequenceTest, RegistryFailureIsShownAfterTheWaitCursorEnds) {
  registry_.FailConnect("PC1", kErrorAccessDenied);
  FillList();
  EXPECT_EQ(Check("PC1"), QuickCheckOutcome::kRegistryError);
  EXPECT_EQ(page_.log,
            (std::vector<std::string>{"wait", "ping PC1", "end wait",
                                      "hand: " + LoadText(kTextRegistryOpenError) +
                                          " : Key=PC1 Code=5 Desc=Access is denied. [keys 0]"}));
  EXPECT_EQ(view_.ItemCount(), 0u);
}

// The box comes up while the root key is open and the wait cursor is on.
TEST_F(CheckSequenceTest, NoMonitorInformationIsShownBeforeTheKeyIsClosed) {
  registry_.AddWorkstation("PC1").AddMonitor("D", "1", "M", "D", "Monitor", "H",
                                             MakeEdid({.model = "", .serial = ""}));
  EXPECT_EQ(Check("PC1 "), QuickCheckOutcome::kNoMonitors);
  EXPECT_EQ(page_.log,
            (std::vector<std::string>{
                "wait", "ping PC1",
                "exclamation: PC1" + LoadText(kTextNoMonitorInformation) + " [keys 1, waiting]",
                "end wait"}));
  EXPECT_EQ(registry_.OpenKeyCount(), 0u);
}

TEST_F(CheckSequenceTest, EmptyDisplayKeyHasNoMonitorInformation) {
  registry_.AddWorkstation("PC1").AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY");
  EXPECT_EQ(Check("PC1"), QuickCheckOutcome::kNoMonitors);
  EXPECT_EQ(registry_.OpenKeyCount(), 0u);
}

TEST_F(CheckSequenceTest, UnopenableDeviceKeyIsPassedOverQuietly) {
  registry_.AddWorkstation("PC1")
      .AddMonitor("A", "1", "M", "D", "Monitor", "H", MakeEdid({.model = "MA"}))
      .AddMonitor("B", "1", "M", "D", "Monitor", "H", MakeEdid({.model = "MB"}))
      .FailOpen("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\A", kErrorAccessDenied);
  EXPECT_EQ(Check("PC1"), QuickCheckOutcome::kMonitorsListed);
  EXPECT_EQ(page_.log, (std::vector<std::string>{"wait", "ping PC1", "end wait"}));
  ASSERT_EQ(view_.ItemCount(), 1u);
  EXPECT_EQ(view_.Row(0)[0], "B");
}

}  // namespace
}  // namespace glimmora
