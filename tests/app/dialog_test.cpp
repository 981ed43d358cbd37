// The window layer itself: handler results reach the sender, exceptions stop at
// the window procedure, pages ignore OK and Cancel, boxes and the wait cursor.
#include "window/dialog.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "app_test_support.h"
#include "resources/resource.h"
#include "window/message_box.h"

namespace glimmora {
namespace {

constexpr int kThrowingCommand = 4242;
constexpr UINT kAnsweringNotification = 77;

// A page made from the About template whose handlers misbehave on purpose.
class ProbePage : public CDialog {
 public:
  ProbePage() : CDialog(IDD_ABOUT_DIALOG) {}
  int initCount = 0;
  int commandsSeen = 0;

 protected:
  BOOL OnInitDialog() override {
    ++initCount;
    return TRUE;
  }
  bool OnCommand(int id, int code, HWND control) override {
    ++commandsSeen;
    if (id == kThrowingCommand) throw std::runtime_error("handler failure");
    return CDialog::OnCommand(id, code, control);
  }
  bool OnNotify(NMHDR* header, LRESULT& result) override {
    if (header->code != kAnsweringNotification) return false;
    result = 1234;
    return true;
  }
  bool OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) override {
    if (message != WM_APP) return false;
    if (wParam == 1) throw std::bad_alloc();
    result = 99;
    return true;
  }
};

class DialogLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    parent = CreateWindowExA(0, "STATIC", "parent", WS_POPUP | WS_VISIBLE, 0, 0, 600, 400, nullptr,
                             nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    ASSERT_TRUE(page.Create(parent));
  }
  void TearDown() override { DestroyWindow(parent); }

  HWND parent = nullptr;
  ProbePage page;
};

TEST_F(DialogLayer, ChildPageIsMadeHiddenFromItsTemplate) {
  EXPECT_EQ(page.initCount, 1);
  EXPECT_EQ(GetParent(page.GetSafeHwnd()), parent);
  EXPECT_FALSE(IsWindowVisible(page.GetSafeHwnd()));
  EXPECT_FALSE(page.Create(parent)) << "a second window for the same page";
}

TEST_F(DialogLayer, HandlerResultsReachTheSender) {
  NMHDR header{page.GetSafeHwnd(), 1, kAnsweringNotification};
  EXPECT_EQ(SendMessageA(page.GetSafeHwnd(), WM_NOTIFY, 1, reinterpret_cast<LPARAM>(&header)),
            1234);
  EXPECT_EQ(SendMessageA(page.GetSafeHwnd(), WM_APP, 0, 0), 99);
}

TEST_F(DialogLayer, ExceptionsStopAtTheWindowProcedure) {
  SendMessageA(page.GetSafeHwnd(), WM_COMMAND, kThrowingCommand, 0);
  EXPECT_EQ(SendMessageA(page.GetSafeHwnd(), WM_APP, 1, 0), 0);
  // The page goes on working.
  EXPECT_EQ(page.commandsSeen, 1);
  EXPECT_EQ(SendMessageA(page.GetSafeHwnd(), WM_APP, 0, 0), 99);
  EXPECT_TRUE(IsWindow(page.GetSafeHwnd()));
}

TEST_F(DialogLayer, PagesIgnoreOkAndCancel) {
  ShowWindow(page.GetSafeHwnd(), SW_SHOW);
  SendMessageA(page.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
  SendMessageA(page.GetSafeHwnd(), WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(IsWindowVisible(page.GetSafeHwnd()));
  EXPECT_EQ(page.commandsSeen, 2);
}

TEST_F(DialogLayer, DestroyedWindowIsForgottenAndObjectOutlivesIt) {
  DestroyWindow(parent);
  parent = nullptr;
  EXPECT_EQ(page.GetSafeHwnd(), nullptr);
  EXPECT_EQ(page.GetDlgItem(1), nullptr);
}

TEST(MessageBoxes, CarryTheApplicationNameAndTheWaitCursorIsCounted) {
  testing::MessageBoxRecorder recorder;
  EXPECT_EQ(WaitCursorDepth(), 0);
  {
    CWaitCursor wait;
    EXPECT_EQ(ShowMessageBox(nullptr, "first", MB_ICONEXCLAMATION | MB_OK), IDOK);
  }
  ShowMessageBox(nullptr, "second", MB_ICONINFORMATION);
  EXPECT_EQ(WaitCursorDepth(), 0);

  ASSERT_EQ(recorder.boxes().size(), 2u);
  EXPECT_EQ(recorder.boxes()[0].text, "first");
  EXPECT_EQ(recorder.boxes()[0].title, "Glimmora");
  EXPECT_EQ(recorder.boxes()[0].style, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
  EXPECT_EQ(recorder.boxes()[0].waitCursorDepth, 1);
  EXPECT_EQ(recorder.boxes()[1].waitCursorDepth, 0);
}

}  // namespace
}  // namespace glimmora
