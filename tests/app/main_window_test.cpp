// The main window made from its real template under Wine, driven with messages:
// tabs and pages, layout at every size, the minimum size, the About page.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/glimmora_app.h"
#include "app/main_dialog.h"
#include "app_test_support.h"
#include "resources/resource.h"

namespace glimmora {
namespace {

using testing::ClientRectOf;
using testing::ExpectedText;
using testing::Localized;
using testing::WindowText;

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}
#define EXPECT_RECT(actual, expected) EXPECT_EQ(Describe(actual), Describe(expected))

RECT Rect(LONG left, LONG top, LONG right, LONG bottom) {
  return RECT{left, top, right, bottom};
}

class MainWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
  }

  void SetUp() override {
    ASSERT_TRUE(dlg.Create(nullptr));
    main = dlg.GetSafeHwnd();
    tab = GetDlgItem(main, IDC_TAB);
    ASSERT_NE(tab, nullptr);
    pages = {dlg.m_QuickPage.GetSafeHwnd(), dlg.m_BatchPage.GetSafeHwnd(),
             dlg.m_AboutPage.GetSafeHwnd()};
    for (HWND page : pages) ASSERT_NE(page, nullptr);
  }

  // What the user's click on a tab does: the selection changes, and the tab strip
  // notifies its parent (TCM_SETCURSEL alone sends no notification).
  LRESULT SelectTab(int index) {
    SendMessageA(tab, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
    NMHDR header{tab, IDC_TAB, static_cast<UINT>(TCN_SELCHANGE)};
    return SendMessageA(main, WM_NOTIFY, IDC_TAB, reinterpret_cast<LPARAM>(&header));
  }

  std::vector<bool> PagesVisible() const {
    std::vector<bool> visible;
    for (HWND page : pages) visible.push_back(IsWindowVisible(page) != FALSE);
    return visible;
  }

  void SendSize(UINT type, int cx, int cy) {
    SendMessageA(main, WM_SIZE, type, MAKELPARAM(cx, cy));
  }

  // The layout rule: from unchanged top-left corners, the tab strip is client size
  // minus 21 and every page client width minus 42 by client height minus 63.
  void ExpectLayoutFor(const RECT& client, const RECT& tabBefore) {
    const int cx = client.right - client.left;
    const int cy = client.bottom - client.top;
    EXPECT_RECT(WindowRectInParent(tab), Rect(tabBefore.left, tabBefore.top,
                                              tabBefore.left + cx - 21, tabBefore.top + cy - 21));
    for (HWND page : pages) {
      EXPECT_RECT(WindowRectInParent(page), Rect(20, 40, 20 + cx - 42, 40 + cy - 63));
    }
  }

  CGlimmoraDlg dlg;
  HWND main = nullptr;
  HWND tab = nullptr;
  std::vector<HWND> pages;
};

TEST_F(MainWindowTest, OpensWithThreeTabsAndOnlyTheQuickCheckPage) {
  EXPECT_EQ(WindowText(main), "Glimmora");
  ASSERT_EQ(SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0), 3);
  for (int index = 0; index < 3; ++index) {
    char text[128] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    ASSERT_TRUE(SendMessageA(tab, TCM_GETITEMA, index, reinterpret_cast<LPARAM>(&item)));
    EXPECT_EQ(std::string(text), ExpectedText(kTextTabQuickCheck + index)) << "tab " << index;
  }
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(PagesVisible(), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(GetFocus(), GetDlgItem(pages[0], IDC_WORKSTATION_NAME));

  // The pages are children of the main window itself, at (20, 40) with the Quick
  // Check page's template size.
  const RECT quickClient = ClientRectOf(pages[0]);
  EXPECT_GT(quickClient.right, 300);
  for (HWND page : pages) {
    EXPECT_EQ(GetParent(page), main);
    EXPECT_RECT(WindowRectInParent(page),
                Rect(20, 40, 20 + quickClient.right, 40 + quickClient.bottom));
  }
  EXPECT_TRUE(GetWindowLongA(tab, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
  EXPECT_EQ(TheApp().m_pMainDlg, &dlg);
  EXPECT_EQ(TheApp().m_pQuickList, &dlg.m_QuickPage.m_MonitorList);
  EXPECT_EQ(dlg.m_QuickPage.m_MonitorList.GetSafeHwnd(), GetDlgItem(pages[0], IDC_MONITOR_LIST));
}

TEST_F(MainWindowTest, CarriesTheApplicationIconEverywhere) {
  ASSERT_NE(dlg.m_hIcon, nullptr);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(main, WM_GETICON, ICON_BIG, 0)), dlg.m_hIcon);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(main, WM_GETICON, ICON_SMALL, 0)), dlg.m_hIcon);
  EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(main, WM_QUERYDRAGICON, 0, 0)), dlg.m_hIcon);
}

TEST_F(MainWindowTest, EachTabShowsItsOwnPageAndNoSelectionShowsAbout) {
  EXPECT_EQ(SelectTab(1), 0);
  EXPECT_EQ(PagesVisible(), (std::vector<bool>{false, true, false}));
  EXPECT_EQ(GetFocus(), GetDlgItem(pages[1], IDC_INPUT_FILE));

  EXPECT_EQ(SelectTab(2), 0);
  EXPECT_EQ(PagesVisible(), (std::vector<bool>{false, false, true}));

  EXPECT_EQ(SelectTab(-1), 0);
  EXPECT_EQ(SendMessageA(tab, TCM_GETCURSEL, 0, 0), -1);
  EXPECT_EQ(PagesVisible(), (std::vector<bool>{false, false, true}));

  EXPECT_EQ(SelectTab(0), 0);
  EXPECT_EQ(PagesVisible(), (std::vector<bool>{true, false, false}));
  EXPECT_EQ(GetFocus(), GetDlgItem(pages[0], IDC_WORKSTATION_NAME));
}

TEST_F(MainWindowTest, SwitchingTabsKeepsWhatAPageHolds) {
  HWND name = GetDlgItem(pages[0], IDC_WORKSTATION_NAME);
  SetWindowTextA(name, "ws-0042");
  SelectTab(1);
  SelectTab(0);
  EXPECT_EQ(WindowText(name), "ws-0042");
}

TEST_F(MainWindowTest, RestoredAndRealSizesFollowTheMargins) {
  const RECT tabBefore = WindowRectInParent(tab);
  SendSize(SIZE_RESTORED, 600, 400);
  ExpectLayoutFor(Rect(0, 0, 600, 400), tabBefore);

  // A real resize of the window lays it out by its new client area.
  SetWindowPos(main, nullptr, 0, 0, 900, 640, SWP_NOMOVE | SWP_NOZORDER);
  const RECT client = ClientRectOf(main);
  EXPECT_GT(client.right, 800);
  ExpectLayoutFor(client, tabBefore);
}

TEST_F(MainWindowTest, MaximisingLaysOutAndMinimisingLeavesTheLayoutAlone) {
  const RECT tabBefore = WindowRectInParent(tab);
  ShowWindow(main, SW_MAXIMIZE);
  ASSERT_TRUE(IsZoomed(main));
  const RECT maximised = ClientRectOf(main);
  ExpectLayoutFor(maximised, tabBefore);

  ShowWindow(main, SW_MINIMIZE);
  ASSERT_TRUE(IsIconic(main));
  ExpectLayoutFor(maximised, tabBefore);
  SendSize(SIZE_MINIMIZED, 10, 10);
  ExpectLayoutFor(maximised, tabBefore);

  ShowWindow(main, SW_RESTORE);
  ASSERT_FALSE(IsIconic(main));
  ExpectLayoutFor(ClientRectOf(main), tabBefore);
}

TEST_F(MainWindowTest, TinySizesNeverCrossAnEdgeOverItsOpposite) {
  const RECT tabBefore = WindowRectInParent(tab);
  SendSize(SIZE_RESTORED, 600, 400);
  const RECT pageBefore = WindowRectInParent(pages[0]);

  // Wide enough for the tab strip only: its edges move, the pages' edges stay.
  SendSize(SIZE_RESTORED, 30, 50);
  EXPECT_RECT(WindowRectInParent(tab),
              Rect(tabBefore.left, tabBefore.top, tabBefore.left + 9, tabBefore.top + 29));
  for (HWND page : pages) EXPECT_RECT(WindowRectInParent(page), pageBefore);

  // At the margins themselves no edge moves.
  SendSize(SIZE_RESTORED, 21, 21);
  EXPECT_RECT(WindowRectInParent(tab),
              Rect(tabBefore.left, tabBefore.top, tabBefore.left + 9, tabBefore.top + 29));
  SendSize(SIZE_RESTORED, 42, 400);
  for (HWND page : pages) {
    EXPECT_RECT(WindowRectInParent(page), Rect(20, 40, pageBefore.right, 40 + 400 - 63));
  }
  // One pixel beyond them: one-pixel windows.
  SendSize(SIZE_RESTORED, 43, 64);
  for (HWND page : pages) EXPECT_RECT(WindowRectInParent(page), Rect(20, 40, 21, 41));
}

TEST_F(MainWindowTest, CannotBeMadeSmallerThan350By210) {
  MINMAXINFO info{};
  info.ptMinTrackSize = {1, 1};
  info.ptMaxTrackSize = {5000, 4000};
  SendMessageA(main, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 350);
  EXPECT_EQ(info.ptMinTrackSize.y, 210);
  EXPECT_EQ(info.ptMaxTrackSize.x, 5000);  // no maximum of its own
  EXPECT_EQ(info.ptMaxTrackSize.y, 4000);

  SetWindowPos(main, nullptr, 0, 0, 100, 80, SWP_NOMOVE | SWP_NOZORDER);
  RECT window;
  GetWindowRect(main, &window);
  EXPECT_EQ(window.right - window.left, 350);
  EXPECT_EQ(window.bottom - window.top, 210);
}

// Where a page's control lies and how far its right and bottom edges are from the page's.
struct Placement {
  RECT rect;
  int rightGap;
  int bottomGap;
};
Placement PlacementOf(HWND page, int id) {
  const RECT rect = WindowRectInParent(GetDlgItem(page, id));
  const RECT client = ClientRectOf(page);
  return {rect, client.right - rect.right, client.bottom - rect.bottom};
}

TEST_F(MainWindowTest, QuickCheckPageStretchesItsFieldAndListAndKeepsTheButtonAtTheEdge) {
  const Placement name = PlacementOf(pages[0], IDC_WORKSTATION_NAME);
  const Placement button = PlacementOf(pages[0], IDC_CHECK);
  const Placement list = PlacementOf(pages[0], IDC_MONITOR_LIST);
  SendSize(SIZE_RESTORED, 1000, 700);
  const RECT page = ClientRectOf(pages[0]);
  ASSERT_EQ(page.right, 1000 - 42);

  EXPECT_RECT(WindowRectInParent(GetDlgItem(pages[0], IDC_WORKSTATION_NAME)),
              Rect(name.rect.left, name.rect.top, page.right - name.rightGap, name.rect.bottom));
  const int buttonWidth = button.rect.right - button.rect.left;
  EXPECT_RECT(WindowRectInParent(GetDlgItem(pages[0], IDC_CHECK)),
              Rect(page.right - button.rightGap - buttonWidth, button.rect.top,
                   page.right - button.rightGap, button.rect.bottom));
  EXPECT_RECT(WindowRectInParent(GetDlgItem(pages[0], IDC_MONITOR_LIST)),
              Rect(list.rect.left, list.rect.top, page.right - list.rightGap,
                   page.bottom - list.bottomGap));
}

TEST_F(MainWindowTest, BatchPageStretchesItsEditsAndMovesItsButtonsWithTheEdges) {
  std::vector<std::pair<int, Placement>> before;
  for (int id : {IDC_INPUT_FILE, IDC_INPUT_BROWSE, IDC_OUTPUT_FILE, IDC_OUTPUT_BROWSE, IDC_START,
                 IDC_STATUS}) {
    before.emplace_back(id, PlacementOf(pages[1], id));
  }
  HWND firstLabel = GetWindow(GetDlgItem(pages[1], IDC_START), GW_HWNDNEXT);
  const RECT labelBefore = WindowRectInParent(firstLabel);

  SendSize(SIZE_RESTORED, 1000, 700);
  const RECT page = ClientRectOf(pages[1]);
  for (const auto& [id, was] : before) {
    const RECT now = WindowRectInParent(GetDlgItem(pages[1], id));
    const int width = was.rect.right - was.rect.left;
    const int height = was.rect.bottom - was.rect.top;
    SCOPED_TRACE(id);
    // Every control keeps its distance from the right edge.
    EXPECT_EQ(now.right, page.right - was.rightGap);
    if (id == IDC_INPUT_FILE || id == IDC_OUTPUT_FILE || id == IDC_STATUS) {
      EXPECT_EQ(now.left, was.rect.left);  // stretches
    } else {
      EXPECT_EQ(now.right - now.left, width);  // moves
    }
    if (id == IDC_START || id == IDC_STATUS) {
      EXPECT_EQ(now.bottom, page.bottom - was.bottomGap);
    } else {
      EXPECT_EQ(now.top, was.rect.top);
    }
    EXPECT_EQ(now.bottom - now.top, height);
  }
  EXPECT_RECT(WindowRectInParent(firstLabel), labelBefore);
}

TEST_F(MainWindowTest, AboutPageShowsIconVersionAndDescriptionInTheUsersLanguage) {
  std::vector<HWND> statics;
  for (HWND child = GetWindow(pages[2], GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    statics.push_back(child);
  }
  ASSERT_EQ(statics.size(), 8u);
  EXPECT_NE(SendMessageA(statics[0], STM_GETICON, 0, 0), 0);
  EXPECT_TRUE(GetWindowLongA(statics[1], GWL_STYLE) & SS_NOPREFIX);

  const std::vector<std::string> expected = {
      "Glimmora, Version 1.2",
      Localized("- Functions -\n", "- 機　能 -\n"),
      Localized("(1) Quick Check\nGlimmora scans the registry of the specified remote "
                "workstation and gets information of PnP monitors.",
                "(1) クイックチェック\n　指定されたリモートワークステーションのレジストリを調べ、"
                "プラグアンドプレィモニタの情報を取り出し表示します。"),
      Localized("(2) Batch Process\nGlimmora reads the specified input file that has "
                "workstation name in each row. And it scans the registry of the remote "
                "workstations and gets information of PnP monitors. Then it writes the "
                "information to the specified output file.",
                "(2) バッチ処理\n　各行にワークステーション名が記述された入力ファイルを読み込み、"
                "それらのワークステーションのレジストリを調べ、プラグアンドプレィモニタの情報を"
                "取り出し、指定された出力ファイルへそれらの情報を書き出します。"),
      Localized("- Note -\n", "- 注　意 -\n"),
      Localized("(1) User must have appropriate access rights of the remote workstations for "
                "registry accessing.",
                "(1) 調査対象となるリモートワークステーションのレジストリにアクセスできる権利が"
                "必要です。"),
      Localized("(2) Glimmora doesn't check the data which has neither serial number nor model "
                "name. And duplicate data will not be displayed.",
                "(2) モデル名とシリアル番号の情報が両方とも存在しないものは出力されません。　"
                "また、重複する情報は出力されません。"),
  };
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(WindowText(statics[i + 1]), expected[i]) << "text " << i + 1;
  }

  // The page has no layout of its own: the texts keep their places when it grows.
  const RECT versionBefore = WindowRectInParent(statics[1]);
  SendSize(SIZE_RESTORED, 1000, 700);
  EXPECT_RECT(WindowRectInParent(statics[1]), versionBefore);
}

TEST_F(MainWindowTest, PagesShowTheirTemplateTextsInTheUsersLanguage) {
  EXPECT_EQ(WindowText(GetDlgItem(pages[0], IDC_CHECK)), Localized("Check", "チェック"));
  EXPECT_EQ(WindowText(GetWindow(GetDlgItem(pages[0], IDC_WORKSTATION_NAME), GW_HWNDNEXT)),
            Localized("Workstation Name", "ワークステーション名"));
  EXPECT_EQ(WindowText(GetDlgItem(pages[1], IDC_INPUT_BROWSE)), Localized("Browse...", "参照..."));
  EXPECT_EQ(WindowText(GetDlgItem(pages[1], IDC_START)), Localized("Start", "スタート"));
}

TEST_F(MainWindowTest, DestroyingTheWindowForgetsItInTheApplication) {
  ASSERT_EQ(TheApp().m_pMainDlg, &dlg);
  {
    CGlimmoraDlg second;
    ASSERT_TRUE(second.Create(nullptr));
    EXPECT_EQ(TheApp().m_pMainDlg, &second);
  }
  EXPECT_EQ(TheApp().m_pMainDlg, nullptr);
  EXPECT_EQ(TheApp().m_pQuickList, nullptr);
}

}  // namespace
}  // namespace glimmora
