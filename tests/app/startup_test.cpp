// Start-up and the modal run of the main window, end to end on the test's thread:
// a timer drives the running window while the real modal loop serves it.
#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/glimmora_app.h"
#include "app/main_dialog.h"
#include "app_test_support.h"
#include "resources/resource.h"

namespace glimmora {
namespace {

using testing::ExpectedText;
using testing::MessageBoxRecorder;
using testing::TimedSteps;

HWND MainWindow() {
  return TheApp().m_pMainDlg != nullptr ? TheApp().m_pMainDlg->GetSafeHwnd() : nullptr;
}

int EchoServiceMissing() {
  return -1;
}
int EchoServiceLoaded() {
  return 0;
}

// Installs an echo-service loader for one test.
class IcmpLoaderScope {
 public:
  explicit IcmpLoaderScope(CGlimmoraApp::IcmpLoader loader)
      : previous_(TheApp().ReplaceIcmpLoader(loader)) {}
  ~IcmpLoaderScope() { TheApp().ReplaceIcmpLoader(previous_); }

 private:
  CGlimmoraApp::IcmpLoader previous_;
};

// What the running main window looked like at the first tick.
struct FirstSight {
  bool seen = false;
  int boxesBefore = -1;
  int batchRunning = -1;
  int sortColumn = -1;
  bool sortAscending = false;
  bool quickPageOnly = false;
  POINT windowCentre{};
  POINT workAreaCentre{};
};

FirstSight LookAtMainWindow(const MessageBoxRecorder& recorder) {
  FirstSight sight;
  HWND main = MainWindow();
  if (main == nullptr) return sight;
  const CGlimmoraDlg& dlg = *TheApp().m_pMainDlg;
  sight.seen = IsWindowVisible(main) != FALSE;
  sight.boxesBefore = static_cast<int>(recorder.boxes().size());
  sight.batchRunning = TheApp().batchState.running;
  sight.sortColumn = static_cast<int>(TheApp().quickListSort.column);
  sight.sortAscending = TheApp().quickListSort.ascending;
  sight.quickPageOnly = IsWindowVisible(dlg.m_QuickPage.GetSafeHwnd()) &&
                        !IsWindowVisible(dlg.m_BatchPage.GetSafeHwnd()) &&
                        !IsWindowVisible(dlg.m_AboutPage.GetSafeHwnd());
  RECT window;
  GetWindowRect(main, &window);
  sight.windowCentre = {(window.left + window.right) / 2, (window.top + window.bottom) / 2};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoA(MonitorFromWindow(main, MONITOR_DEFAULTTOPRIMARY), &monitor);
  sight.workAreaCentre = {(monitor.rcWork.left + monitor.rcWork.right) / 2,
                          (monitor.rcWork.top + monitor.rcWork.bottom) / 2};
  return sight;
}

// Runs the start-up sequence with the given loader, looks at the main window once
// it runs, then closes it with its close box.
FirstSight RunStartup(CGlimmoraApp::IcmpLoader loader, MessageBoxRecorder& recorder) {
  IcmpLoaderScope loaderScope(loader);
  // Start values must be set by start-up, not be left from before.
  TheApp().batchState.running = 1;
  TheApp().quickListSort = {5, false};

  FirstSight sight;
  TimedSteps steps({[&] { sight = LookAtMainWindow(recorder); },
                    [] { PostMessageA(MainWindow(), WM_CLOSE, 0, 0); }},
                   MainWindow);
  EXPECT_FALSE(TheApp().InitInstance());
  EXPECT_EQ(steps.stepsRun(), 2);
  return sight;
}

// Calls WSACleanup until Windows Sockets says it is not initialised; how many succeeded.
int CleanupsLeft() {
  int count = 0;
  while (WSACleanup() == 0) ++count;
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  return count;
}

TEST(Startup, MissingEchoServiceShowsOneErrorBoxThenTheMainWindow) {
  MessageBoxRecorder recorder;
  bool windowExistedAtBox = true;
  recorder.onBox = [&](const testing::RecordedBox&) {
    windowExistedAtBox = MainWindow() != nullptr;
  };

  const FirstSight sight = RunStartup(&EchoServiceMissing, recorder);

  ASSERT_EQ(recorder.boxes().size(), 1u);
  const testing::RecordedBox& box = recorder.boxes()[0];
  EXPECT_EQ(box.text, ExpectedText(kTextIcmpLoadError));
  EXPECT_EQ(box.title, "Glimmora");
  EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONERROR | MB_OK));
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_FALSE(windowExistedAtBox);
  EXPECT_TRUE(sight.seen);
  EXPECT_EQ(sight.boxesBefore, 1);
}

TEST(Startup, SetsTheSharedValuesAndOpensCentredOnTheQuickCheckPage) {
  MessageBoxRecorder recorder;
  const FirstSight sight = RunStartup(&EchoServiceLoaded, recorder);

  EXPECT_TRUE(recorder.boxes().empty());
  ASSERT_TRUE(sight.seen);
  EXPECT_EQ(sight.batchRunning, 0);
  EXPECT_EQ(sight.sortColumn, 0);
  EXPECT_TRUE(sight.sortAscending);
  EXPECT_TRUE(sight.quickPageOnly);
  EXPECT_NEAR(sight.windowCentre.x, sight.workAreaCentre.x, 1);
  EXPECT_NEAR(sight.windowCentre.y, sight.workAreaCentre.y, 1);
  // The main window and its pages are gone; nothing refers to them any more.
  EXPECT_EQ(TheApp().m_pMainDlg, nullptr);
  EXPECT_EQ(TheApp().m_pQuickList, nullptr);
}

TEST(Startup, CleansUpWindowsSocketsExactlyOnce) {
  // One start of our own: start-up must take back its own and no more.
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  MessageBoxRecorder recorder;
  RunStartup(&EchoServiceLoaded, recorder);
  EXPECT_EQ(CleanupsLeft(), 1);
}

// The keyboard in the modal run: Enter and Escape inside a page leave the program
// running; on the tab strip they close the main window.
class ModalKeyboard : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
  }
  static void PressKey(HWND target, WPARAM key) {
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 1 | (3u << 30));
  }
  HWND Control(const CDialog& page, int id) const { return GetDlgItem(page.GetSafeHwnd(), id); }

  MessageBoxRecorder recorder;  // a page that acts on Enter must not block the test
  CGlimmoraDlg dlg;
  bool stillOpen[3] = {};
};

TEST_F(ModalKeyboard, EscapeAndEnterInsideAPageKeepTheProgramRunning) {
  HWND main = nullptr;
  TimedSteps steps(
      {[&] {
         main = dlg.GetSafeHwnd();
         PressKey(Control(dlg.m_QuickPage, IDC_WORKSTATION_NAME), VK_ESCAPE);
       },
       [&] {
         stillOpen[0] = IsWindowVisible(main) && IsWindowVisible(dlg.m_QuickPage.GetSafeHwnd());
         PressKey(Control(dlg.m_QuickPage, IDC_WORKSTATION_NAME), VK_RETURN);
       },
       [&] {
         stillOpen[1] = IsWindowVisible(main) && IsWindowVisible(dlg.m_QuickPage.GetSafeHwnd());
         PressKey(dlg.m_AboutPage.GetSafeHwnd(), VK_ESCAPE);
         PressKey(dlg.m_AboutPage.GetSafeHwnd(), VK_RETURN);
       },
       [&] {
         stillOpen[2] = IsWindowVisible(main) != FALSE;
         PressKey(dlg.m_TabCtrl.GetSafeHwnd(), VK_ESCAPE);
       }},
      [&] { return dlg.GetSafeHwnd(); });

  EXPECT_EQ(dlg.RunModal(), IDCANCEL);
  EXPECT_TRUE(stillOpen[0]) << "Escape in the name field";
  EXPECT_TRUE(stillOpen[1]) << "Enter in the name field";
  EXPECT_TRUE(stillOpen[2]) << "Escape and Enter on the About page";
  EXPECT_EQ(steps.stepsRun(), 4);
  EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);  // the window is gone when the run returns
}

TEST_F(ModalKeyboard, EnterOnTheTabStripClosesTheMainWindow) {
  TimedSteps steps({[&] { PressKey(dlg.m_TabCtrl.GetSafeHwnd(), VK_RETURN); }},
                   [&] { return dlg.GetSafeHwnd(); });
  EXPECT_EQ(dlg.RunModal(), IDOK);
}

TEST_F(ModalKeyboard, TheCloseBoxEndsTheRunAsCancel) {
  TimedSteps steps({[&] { SendMessageA(dlg.GetSafeHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
                   [&] { return dlg.GetSafeHwnd(); });
  EXPECT_EQ(dlg.RunModal(), IDCANCEL);
}

}  // namespace
}  // namespace glimmora
