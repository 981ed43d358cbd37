// The Quick Check page made from its real template under Wine and driven as the
// user drives it: the name typed, Check pressed, headers clicked, the window
// sized. The probe and the registry are scripted where a test needs a case the
// machine cannot give, and real (Wine's registry and ICMP) end to end.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "quickcheck/icmp_probe.h"
#include "reachability/probe.h"
#include "resources/resource.h"
#include "tests/pages/pages_test_support.h"
#include "tests/support/computer_name_win32.h"
#include "tests/support/edid_builder.h"
#include "tests/support/registry_memory.h"

namespace glimmora {
namespace {

using testing::EdidSpec;
using testing::ExpectedText;
using testing::IsOrdered;
using testing::ListColumn;
using testing::ListItemValues;
using testing::ListRows;
using testing::MakeEdid;
using testing::MessageBoxRecorder;
using testing::TextOf;

using Rows = std::vector<std::vector<std::string>>;

// Answers every probe as told and remembers the names it was given.
struct ScriptedProbe : ReachabilityProbe {
  int Ping(const std::string& workstation, std::string& resultText) override {
    names.push_back(workstation);
    resultText = text;
    return result;
  }
  int result = PingReply;
  std::string text;
  std::vector<std::string> names;
};

// The real probe, with what it answered.
struct WatchedIcmpProbe : ReachabilityProbe {
  int Ping(const std::string& workstation, std::string& resultText) override {
    results.push_back(real.Ping(workstation, resultText));
    return results.back();
  }
  IcmpProbe real;
  std::vector<int> results;
};

struct SampleMonitor {
  std::string deviceId, deviceClass, description, mfg, hardwareId, model, serial;
  int widthCm, heightCm, week, year, revision;
};

// Texts chosen so that every column orders the four rows differently, with
// letter case mixed in so that a case-sensitive order would differ.
const std::vector<SampleMonitor> kSampleMonitors = {
    {"GLM0004", "Monitor", "delta screen", "Brackwell", "MONITOR\\GLM0004", "alpha", "S-40", 52, 32,
     11, 2008, 3},
    {"glm0001", "monitor", "Alpha screen", "acme", "MONITOR\\glm0001", "Delta", "s-10", 60, 34, 42,
     2008, 4},
    {"GLM0003", "Display", "charlie screen", "Zenith", "monitor\\GLM0003", "CHARLIE", "S-9", 40, 30,
     20, 2010, 1},
    {"Glm0002", "MONITOR", "Bravo screen", "dolphin", "Monitor\\Glm0002", "bravo", "S-100", 70, 40,
     5, 2001, 2},
};

void AddSampleMonitors(MemoryWorkstation& workstation) {
  for (const SampleMonitor& m : kSampleMonitors) {
    EdidSpec spec;
    spec.model = m.model;
    spec.serial = m.serial;
    spec.widthCm = m.widthCm;
    spec.heightCm = m.heightCm;
    spec.week = m.week;
    spec.year = m.year;
    spec.revision = m.revision;
    workstation.AddMonitor(m.deviceId, "1&1&0&UID1", m.mfg, m.description, m.deviceClass,
                           m.hardwareId, MakeEdid(spec));
  }
}

class QuickPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TheApp().quickListSort = MonitorSortState{};
    ASSERT_TRUE(window_.created());
    page = quickPage().GetSafeHwnd();
    name = GetDlgItem(page, IDC_WORKSTATION_NAME);
    list = GetDlgItem(page, IDC_MONITOR_LIST);
    checkButton = GetDlgItem(page, IDC_CHECK);
    ASSERT_NE(name, nullptr);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(checkButton, nullptr);
    quickPage().ReplaceCheckServices(&probe, &registry);

    AddSampleMonitors(registry.AddWorkstation("PC1"));
    registry.AddWorkstation("EMPTY-PC").AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY");
  }
  void TearDown() override { TheApp().quickListSort = MonitorSortState{}; }

  CQuickDialog& quickPage() { return window_.dlg.m_QuickPage; }

  // Types the name and presses Check.
  void Check(const std::string& typed) {
    SetWindowTextA(name, typed.c_str());
    SendMessageA(checkButton, BM_CLICK, 0, 0);
  }

  // A click on a column's header, through the list's own header control. The
  // page is first made wide enough to show every column, as the user would.
  void ClickHeader(int column) {
    if (testing::ClientRectOf(page).right < 1000) MoveWindow(page, 20, 40, 1000, 300, TRUE);
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    RECT rect{};
    SendMessageA(header, HDM_GETITEMRECT, static_cast<WPARAM>(column),
                 reinterpret_cast<LPARAM>(&rect));
    testing::ClickAt(header, rect);
  }

  void ExpectValuesArePositions() {
    const std::vector<LPARAM> values = ListItemValues(list);
    for (std::size_t item = 0; item < values.size(); ++item)
      EXPECT_EQ(values[item], static_cast<LPARAM>(item)) << "item " << item;
  }

  ScriptedProbe probe;
  MemoryRegistry registry;
  MessageBoxRecorder boxes;
  testing::FocusRequests focus;
  HWND page = nullptr;
  HWND name = nullptr;
  HWND list = nullptr;
  HWND checkButton = nullptr;

 private:
  testing::MainWindowFixture window_;
};

TEST_F(QuickPageTest, ListHasTenColumnsInReportViewWithGridLinesAndFullRowSelection) {
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  ASSERT_EQ(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0), 10);
  const int headerIds[] = {1021, 1022, 1023, 1024, 1025, 1026, 1027, 1033, 1028, 1029};
  const int widths[] = {100, 50, 100, 100, 100, 100, 100, 100, 50, 100};
  for (int column = 0; column < 10; ++column) {
    char text[128] = {};
    LVCOLUMNA request{};
    request.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    request.pszText = text;
    request.cchTextMax = sizeof text;
    ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column),
                             reinterpret_cast<LPARAM>(&request)));
    EXPECT_EQ(std::string(text), ExpectedText(headerIds[column])) << "column " << column;
    EXPECT_EQ(request.cx, widths[column]) << "column " << column;
    EXPECT_EQ(request.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT) << "column " << column;
  }

  const LONG style = GetWindowLongA(list, GWL_STYLE);
  EXPECT_EQ(style & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_TRUE(style & LVS_SINGLESEL);
  EXPECT_TRUE(style & LVS_AUTOARRANGE);
  EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0),
            LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(TheApp().m_pQuickList, &quickPage().m_MonitorList);
}

TEST_F(QuickPageTest, ListsTheMonitorsOfTheTrimmedNameSortedByMonitorId) {
  Check("  PC1\t ");

  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(probe.names, std::vector<std::string>{"PC1"});
  EXPECT_EQ(TextOf(name), "  PC1\t ");  // the field keeps what was typed
  const Rows rows = ListRows(list);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(ListColumn(list, 0),
            (std::vector<std::string>{"glm0001", "Glm0002", "GLM0003", "GLM0004"}));
  EXPECT_EQ(rows[0], (std::vector<std::string>{"glm0001", "monitor", "Alpha screen", "acme",
                                               "MONITOR\\glm0001", "Delta", "s-10",
                                               "W:60cm x H:34cm (27.2\")", "2008/10", "1.4"}));
  ExpectValuesArePositions();
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  EXPECT_EQ(TheApp().quickListSort.column, 0u);
  EXPECT_TRUE(TheApp().quickListSort.ascending);
}

TEST_F(QuickPageTest, EmptyAndBlankNamesAreRefusedAndTheListStays) {
  Check("PC1");
  const Rows before = ListRows(list);
  ASSERT_EQ(before.size(), 4u);
  probe.names.clear();

  for (const char* typed : {"", " \t  "}) {
    focus.Forget();
    Check(typed);
    EXPECT_TRUE(focus.Requested(name)) << "'" << typed << "'";
  }

  ASSERT_EQ(boxes.boxes().size(), 2u);
  for (const testing::RecordedBox& box : boxes.boxes()) {
    EXPECT_EQ(box.text, ExpectedText(kTextNameNotSpecified));
    EXPECT_EQ(box.title, "Glimmora");
    EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
    EXPECT_EQ(box.owner, page);
    EXPECT_EQ(box.waitCursorDepth, 0);
  }
  EXPECT_TRUE(probe.names.empty());
  EXPECT_EQ(ListRows(list), before);
}

TEST_F(QuickPageTest, NoMonitorInformationNamesTheTrimmedNameUnderTheWaitCursor) {
  Check("PC1");
  Check("  EMPTY-PC  ");

  ASSERT_EQ(boxes.boxes().size(), 1u);
  const testing::RecordedBox& box = boxes.boxes()[0];
  EXPECT_EQ(box.text, "EMPTY-PC" + ExpectedText(kTextNoMonitorInformation));
  EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
  EXPECT_EQ(box.waitCursorDepth, 1);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
  EXPECT_EQ(WaitCursorDepth(), 0);
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST_F(QuickPageTest, UnreachableWorkstationEmptiesTheListAndLeavesTheRegistryAlone) {
  Check("PC1");
  const std::size_t connects = registry.ConnectCount();
  probe.result = PingTimedOut;
  probe.text = "(Error: Request timed out (192.0.2.7))";
  Check(" PC1 ");

  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, probe.text);
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONHAND | MB_OK));
  EXPECT_EQ(boxes.boxes()[0].waitCursorDepth, 0);
  EXPECT_EQ(registry.ConnectCount(), connects);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(QuickPageTest, ProbeThatCannotRunLetsTheCheckGoOnQuietly) {
  probe.result = PingUnavailable;
  probe.text = ExpectedText(kTextPingUnavailable);
  Check("PC1");
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 4);
}

// The real probe; the name lookup stays on this machine when the test runs
// through with-probe-network, which points the resolver at loopback.
TEST_F(QuickPageTest, UnresolvableNameShowsTheProbesTextAndSkipsTheRegistry) {
  if (std::getenv("GLIMMORA_LOCAL_RESOLVER") == nullptr) {
    GTEST_SKIP() << "a lookup here could reach a name server off this machine";
  }
  SocketLibraryUse sockets;
  ASSERT_EQ(LoadIcmpLibrary(), 0);
  Check("PC1");
  quickPage().ReplaceCheckServices(nullptr, &registry);
  const std::size_t connects = registry.ConnectCount();
  const std::string unknown = "glimmora-no-such-host.invalid";
  Check(" " + unknown + " ");

  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextHostNotFound) + " " + unknown + ")");
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONHAND | MB_OK));
  EXPECT_EQ(registry.ConnectCount(), connects);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

// Wine's advapi32 opens only this computer's registry; any other name gives 53.
TEST_F(QuickPageTest, RegistryRefusalEmptiesTheListAndShowsTheSystemText) {
  Check("PC1");
  quickPage().ReplaceCheckServices(&probe, nullptr);
  Check("GLIMMORA-NO-SUCH-PC");

  ASSERT_EQ(boxes.boxes().size(), 1u);
  const std::string expected =
      ExpectedText(kTextRegistryOpenError) + " : Key=GLIMMORA-NO-SUCH-PC Code=53 Desc=";
  EXPECT_EQ(boxes.boxes()[0].text.substr(0, expected.size()), expected);
  EXPECT_GT(boxes.boxes()[0].text.size(), expected.size());
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONHAND | MB_OK));
  EXPECT_EQ(boxes.boxes()[0].waitCursorDepth, 0);
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
}

TEST_F(QuickPageTest, HeaderClicksSortEveryColumnBothWays) {
  Check("PC1");
  Rows expectedRows = ListRows(list);
  std::sort(expectedRows.begin(), expectedRows.end());

  bool ascending = true;
  std::size_t sortColumn = 0;
  for (int column = 0; column < 10; ++column) {
    for (int click = 0; click < 2; ++click) {
      // The same column again reverses the order; another keeps the direction.
      if (static_cast<std::size_t>(column) == sortColumn) ascending = !ascending;
      sortColumn = static_cast<std::size_t>(column);
      ClickHeader(column);

      SCOPED_TRACE("column " + std::to_string(column) + " click " + std::to_string(click));
      EXPECT_EQ(TheApp().quickListSort.column, sortColumn);
      EXPECT_EQ(TheApp().quickListSort.ascending, ascending);
      EXPECT_TRUE(IsOrdered(ListColumn(list, column), ascending));
      Rows rows = ListRows(list);
      std::sort(rows.begin(), rows.end());
      EXPECT_EQ(rows, expectedRows);  // rows move whole
      ExpectValuesArePositions();
    }
  }
  EXPECT_TRUE(boxes.boxes().empty());
  EXPECT_EQ(WaitCursorDepth(), 0);
}

TEST_F(QuickPageTest, SortStateCarriesOverToTheNextCheck) {
  Check("PC1");
  ClickHeader(5);  // Model: ascending, the direction used last
  EXPECT_EQ(ListColumn(list, 5), (std::vector<std::string>{"alpha", "bravo", "CHARLIE", "Delta"}));
  ClickHeader(5);  // descending
  EXPECT_EQ(ListColumn(list, 5), (std::vector<std::string>{"Delta", "CHARLIE", "bravo", "alpha"}));
  ClickHeader(1);  // Class, still descending
  EXPECT_TRUE(IsOrdered(ListColumn(list, 1), false));
  EXPECT_EQ(ListColumn(list, 1).back(), "Display");  // the three others tie

  // The next check comes out by Class, descending.
  Check("PC1");
  EXPECT_TRUE(IsOrdered(ListColumn(list, 1), false));
  EXPECT_EQ(ListColumn(list, 1).back(), "Display");
  ExpectValuesArePositions();
  ClickHeader(8);  // MFG Date, still descending; the month is text: 3 before 10
  EXPECT_EQ(ListColumn(list, 8),
            (std::vector<std::string>{"2010/5", "2008/3", "2008/10", "2001/1"}));

  // A check that finds nothing leaves the state alone; a click on the empty list
  // still changes it.
  Check("EMPTY-PC");
  EXPECT_EQ(TheApp().quickListSort.column, 8u);
  EXPECT_FALSE(TheApp().quickListSort.ascending);
  ClickHeader(8);
  EXPECT_TRUE(TheApp().quickListSort.ascending);
}

// Hundreds of rows through the real control: the order comes out right although
// the control moves its items while LVM_SORTITEMS runs.
class ManyRowsTest : public QuickPageTest {
 protected:
  void FillRandomRows(std::size_t count) {
    std::mt19937 random(20240611);
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    auto text = [&](std::size_t length) {
      std::string t;
      for (std::size_t i = 0; i < length; ++i) t += letters[random() % (sizeof letters - 1)];
      return t;
    };
    CMonitorListCtrl& control = quickPage().m_MonitorList;
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    control.DeleteAllItems();
    for (std::size_t row = 0; row < count; ++row) {
      MonitorListRow texts;
      for (std::size_t column = 0; column < kMonitorListColumnCount; ++column)
        texts[column] = text(1 + random() % 6);
      control.AppendItem(texts);
      control.SetItemValue(row, static_cast<std::intptr_t>(row));
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  }
};

TEST_F(ManyRowsTest, SortByEveryColumnBothWays) {
  FillRandomRows(300);
  Rows expectedRows = ListRows(list);
  std::sort(expectedRows.begin(), expectedRows.end());
  for (std::size_t column = 0; column < kMonitorListColumnCount; ++column) {
    for (bool ascending : {true, false}) {
      SCOPED_TRACE("column " + std::to_string(column) + (ascending ? " ascending" : " descending"));
      SortMonitorList(quickPage().m_MonitorList, column, ascending);
      EXPECT_TRUE(IsOrdered(ListColumn(list, static_cast<int>(column)), ascending));
      Rows rows = ListRows(list);
      std::sort(rows.begin(), rows.end());
      EXPECT_EQ(rows, expectedRows);
      ExpectValuesArePositions();
    }
  }
}

TEST_F(QuickPageTest, LayoutKeepsTheMarginsOfTheTemplate) {
  // The template's distances in this page's pixels: the page 350 x 180 dialog
  // units, the name field at 73 and 210 wide, the button at 293 and 50 wide, the
  // list at (7, 27) and 336 x 146.
  using testing::DialogUnitsX;
  using testing::DialogUnitsY;
  const int pageWidth = DialogUnitsX(page, 350);
  const int nameMargin = pageWidth - DialogUnitsX(page, 73) - DialogUnitsX(page, 210);
  const int buttonMargin = pageWidth - DialogUnitsX(page, 293) - DialogUnitsX(page, 50);
  const int listMargin = pageWidth - DialogUnitsX(page, 7) - DialogUnitsX(page, 336);
  const int listBottomMargin =
      DialogUnitsY(page, 180) - DialogUnitsY(page, 27) - DialogUnitsY(page, 146);

  const RECT nameBefore = WindowRectInParent(name);
  const RECT buttonBefore = WindowRectInParent(checkButton);
  const RECT listBefore = WindowRectInParent(list);

  for (SIZE size : {SIZE{900, 640}, SIZE{700, 500}}) {
    MoveWindow(page, 20, 40, size.cx, size.cy, TRUE);
    const RECT client = testing::ClientRectOf(page);
    const int cx = client.right;
    const int cy = client.bottom;
    SCOPED_TRACE(std::to_string(cx) + " x " + std::to_string(cy));

    const RECT nameNow = WindowRectInParent(name);
    EXPECT_EQ(nameNow.left, nameBefore.left);
    EXPECT_EQ(nameNow.top, nameBefore.top);
    EXPECT_EQ(nameNow.bottom, nameBefore.bottom);
    EXPECT_EQ(nameNow.right, cx - nameMargin);

    const RECT buttonNow = WindowRectInParent(checkButton);
    EXPECT_EQ(buttonNow.right, cx - buttonMargin);
    EXPECT_EQ(buttonNow.right - buttonNow.left, buttonBefore.right - buttonBefore.left);
    EXPECT_EQ(buttonNow.top, buttonBefore.top);
    EXPECT_EQ(buttonNow.bottom, buttonBefore.bottom);

    const RECT listNow = WindowRectInParent(list);
    EXPECT_EQ(listNow.left, listBefore.left);
    EXPECT_EQ(listNow.top, listBefore.top);
    EXPECT_EQ(listNow.right, cx - listMargin);
    EXPECT_EQ(listNow.bottom, cy - listBottomMargin);
  }

  // Narrower than the margins: the stretched edges stay instead of crossing.
  MoveWindow(page, 20, 40, 60, 30, TRUE);
  EXPECT_GT(WindowRectInParent(name).right, WindowRectInParent(name).left);
  EXPECT_GT(WindowRectInParent(list).right, WindowRectInParent(list).left);
  EXPECT_GT(WindowRectInParent(list).bottom, WindowRectInParent(list).top);
}

using testing::ComputerName;

// End to end: this computer through Wine's ICMP and Wine's own registry, into
// which the monitors of tests/data/wine were imported.
TEST_F(QuickPageTest, ChecksThisComputerThroughWinesEchoAndRegistry) {
  SocketLibraryUse sockets;
  ASSERT_EQ(LoadIcmpLibrary(), 0);
  WatchedIcmpProbe echo;
  quickPage().ReplaceCheckServices(&echo, nullptr);
  const std::string computer = ComputerName();
  ASSERT_FALSE(computer.empty());

  Check(computer);

  EXPECT_EQ(echo.results, std::vector<int>{PingReply});
  EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
  Rows ours;
  for (const std::vector<std::string>& row : ListRows(list)) {
    if (row[0].rfind("GLMTEST", 0) == 0) {
      ours.push_back(row);
    } else {
      // Wine's own monitor carries no EDID, so nothing but ours should show.
      ADD_FAILURE() << "unexpected row " << row[0] << " " << row[5];
    }
  }
  // GLMTEST2's one instance has neither model nor serial number: left out.
  const Rows expected = {
      {"GLMTEST1", "Monitor", std::string(300, 'G'), "Glimmora Test", "MONITOR\\GLMTEST1",
       "GLM ONE", "GLM-0001", "W:60cm x H:34cm (27.2\")", "2020/5", "1.3"},
      {"GLMTEST1", "Monitor", "Glimmora Two", "Glimmora Test", "MONITOR\\GLMTEST1", "GLM TWO",
       "GLM-0002", "W:60cm x H:34cm (27.2\")", "2021/5", "1.3"},
  };
  EXPECT_EQ(ours, expected);
}

}  // namespace
}  // namespace glimmora
