// The Batch Process page made from its real template under Wine: file names
// typed or browsed for, Start and Abort pressed, the real worker thread run to
// its end over the in-memory registry with a scripted probe, and the window
// closed in every way while a batch runs.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "batch/csv_format.h"
#include "common/deadline.h"
#include "reachability/probe.h"
#include "resources/resource.h"
#include "tests/pages/pages_test_support.h"
#include "tests/support/batch_fixture.h"
#include "tests/support/computer_name_win32.h"
#include "tests/support/forwarding_registry.h"
#include "window/file_dialog.h"

namespace glimmora {
namespace {

using testing::ExpectedText;
using testing::MessageBoxRecorder;
using testing::ParseCsvLine;
using testing::ReadBytes;
using testing::SplitResultLines;
using testing::TextOf;
using testing::WriteBytes;

constexpr DWORD kPatienceMs = 10000;

// Serves the thread's messages, as the modal loop would, until the condition
// holds or the patience runs out; whether it held.
bool PumpUntil(const std::function<bool()>& condition, DWORD patienceMs = kPatienceMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!CDialog::PreTranslateDialogMessage(&msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    if (condition()) return true;
    if (GetTickCount() - start > patienceMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// The worker's probe: every name answers, one of them only once the test lets it.
class WorkerProbe {
 public:
  WorkerProbe() : gate_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~WorkerProbe() {
    Release();
    CloseHandle(gate_);
  }
  WorkerProbe(const WorkerProbe&) = delete;
  WorkerProbe& operator=(const WorkerProbe&) = delete;

  // The probe of this name waits until Release.
  void HoldAt(const std::string& name) { heldName_ = name; }
  void Release() { SetEvent(gate_); }
  bool Holding() const { return holding_.load(); }
  void DelayEach(DWORD ms) { delayMs_ = ms; }
  int calls() const { return calls_.load(); }

  ProbeFunction Function() {
    return [this](const std::string& name, std::string& text, const Deadline&) {
      ++calls_;
      if (delayMs_ > 0) Sleep(delayMs_);
      if (name == heldName_) {
        holding_.store(true);
        WaitForSingleObject(gate_, INFINITE);
        holding_.store(false);
      }
      text = "Reply from 127.0.0.1: bytes=32 time<1ms TTL=128";
      return PingReply;
    };
  }

 private:
  HANDLE gate_;
  std::string heldName_;
  DWORD delayMs_ = 0;
  std::atomic<int> calls_{0};
  std::atomic<bool> holding_{false};
};

void AddMonitor(MemoryWorkstation& workstation, const std::string& deviceId,
                const std::string& model, const std::string& serial) {
  testing::AddTestMonitor(workstation, deviceId, "1&1&0&UID1", model, serial,
                          {"Brackwell", "Monitor " + model});
}

// The first field of every result line after the header.
std::vector<std::string> WorkstationsOf(const std::string& bytes) {
  std::vector<std::string> names;
  const std::vector<std::string> lines = SplitResultLines(bytes);
  for (std::size_t i = 1; i < lines.size(); ++i) names.push_back(ParseCsvLine(lines[i])[0]);
  return names;
}

// A scripted file dialog: records each request and answers with a path, or
// cancels when the path is empty.
class FileDialogScript {
 public:
  FileDialogScript() {
    previous_ = ReplaceFileDialog([this](const FileDialogRequest& request, std::string* path) {
      requests.push_back(request);
      if (answer.empty()) return false;
      *path = answer;
      return true;
    });
  }
  ~FileDialogScript() { ReplaceFileDialog(std::move(previous_)); }
  FileDialogScript(const FileDialogScript&) = delete;
  FileDialogScript& operator=(const FileDialogScript&) = delete;

  std::string answer;
  std::vector<FileDialogRequest> requests;

 private:
  FileDialogFunction previous_;
};

class BatchPageFixture {
 protected:
  BatchPageFixture() {
    AddMonitor(registry.AddWorkstation("PC1"), "GLM0001", "ALPHA", "A-1");
    AddMonitor(registry.AddWorkstation("PC1"), "GLM0002", "BRAVO", "B-2");
    AddMonitor(registry.AddWorkstation("PC2"), "GLM0003", "CHARLIE", "C-3");
    registry.AddWorkstation("EMPTY").AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY");
  }

  // The program's services with the in-memory registry and the scripted probe.
  void UseTestServices(CBatchDialog& page, std::chrono::milliseconds finishPause) {
    page.AdjustWorkerServices([this, finishPause](BatchServices& services) {
      services.registry = &registry;
      services.probe = probe.Function();
      services.finishPause = finishPause;
      if (openOutput) services.openOutputFile = openOutput;
    });
  }

  MemoryRegistry registry;
  WorkerProbe probe;
  std::function<std::unique_ptr<OutputStream>(const std::string&, std::string*)> openOutput;
  testing::TempDir files;
  MessageBoxRecorder boxes;
  testing::FocusRequests focus;
};

class BatchPageTest : public ::testing::Test, protected BatchPageFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(window_.created());
    SendMessageA(dlg().m_TabCtrl.GetSafeHwnd(), TCM_SETCURSEL, 1, 0);
    dlg().ShowSelectedPage();
    page = dlg().m_BatchPage.GetSafeHwnd();
    input = GetDlgItem(page, IDC_INPUT_FILE);
    output = GetDlgItem(page, IDC_OUTPUT_FILE);
    start = GetDlgItem(page, IDC_START);
    status = GetDlgItem(page, IDC_STATUS);
    tab = dlg().m_TabCtrl.GetSafeHwnd();
    UseTestServices(dlg().m_BatchPage, std::chrono::milliseconds(0));
  }
  void TearDown() override {
    // A worker held by the probe would keep the page's destruction waiting.
    probe.Release();
  }

  CGlimmoraDlg& dlg() { return window_.dlg; }
  BatchState& state() { return TheApp().batchState; }

  void SetNames(const std::string& inputName, const std::string& outputName) {
    SetWindowTextA(input, inputName.c_str());
    SetWindowTextA(output, outputName.c_str());
  }
  void Press(HWND button) { SendMessageA(button, BM_CLICK, 0, 0); }
  bool WaitForBoxes(std::size_t count) {
    return PumpUntil([&] { return boxes.boxes().size() >= count; });
  }

  // Whether each of tab strip, 1004, 1006, 1005, 1007 is enabled.
  std::vector<bool> BatchControlsEnabled() const {
    std::vector<bool> enabled;
    for (HWND control : {tab, input, output, GetDlgItem(page, IDC_INPUT_BROWSE),
                         GetDlgItem(page, IDC_OUTPUT_BROWSE)})
      enabled.push_back(IsWindowEnabled(control) != FALSE);
    return enabled;
  }
  const std::vector<bool> kAllEnabled{true, true, true, true, true};
  const std::vector<bool> kAllDisabled{false, false, false, false, false};

  HWND page = nullptr;
  HWND input = nullptr;
  HWND output = nullptr;
  HWND start = nullptr;
  HWND status = nullptr;
  HWND tab = nullptr;

 private:
  testing::MainWindowFixture window_;
};

TEST_F(BatchPageTest, RunsToTheEndWithTheTabStripDisabledMeanwhile) {
  const std::string inputPath = files.File("workstations.txt");
  const std::string outputPath = files.File("monitors.csv");
  WriteBytes(inputPath, "pc1\r\nPC2\r\n\r\nEMPTY\r\nNOSUCH\r\n");
  SetNames("  " + inputPath + "\t", " " + outputPath + "  ");

  struct AtTheBox {
    std::int32_t running = -1;
    bool workerJoinable = true;
    std::string button;
    bool tabEnabled = true;
  } atBox;
  boxes.onBox = [&](const testing::RecordedBox&) {
    atBox = {state().running, state().workerThread.joinable(), TextOf(start),
             IsWindowEnabled(tab) != FALSE};
  };

  Press(start);
  // Running: the completion is handled only once messages are served again.
  EXPECT_EQ(state().running, 1);
  EXPECT_EQ(state().inputPath, inputPath);
  EXPECT_EQ(state().outputPath, outputPath);
  EXPECT_EQ(TextOf(start), ExpectedText(kTextAbort));
  EXPECT_EQ(BatchControlsEnabled(), kAllDisabled);
  EXPECT_TRUE(IsWindowEnabled(start));
  EXPECT_TRUE(IsWindowEnabled(status));
  // The click itself gave the button the focus; the page must give it again.
  SetFocus(status);
  focus.Forget();

  ASSERT_TRUE(WaitForBoxes(1));
  const testing::RecordedBox& box = boxes.boxes()[0];
  EXPECT_EQ(box.text, ExpectedText(kTextBatchFinished));
  EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONINFORMATION | MB_OK));
  EXPECT_EQ(box.owner, page);
  // The box comes after the wait for the worker and before the page is reset.
  EXPECT_EQ(atBox.running, 0);
  EXPECT_FALSE(atBox.workerJoinable);
  EXPECT_EQ(atBox.button, ExpectedText(kTextAbort));
  EXPECT_FALSE(atBox.tabEnabled);

  EXPECT_EQ(TextOf(start), ExpectedText(kTextStart));
  EXPECT_TRUE(focus.Requested(start));
  EXPECT_EQ(BatchControlsEnabled(), kAllEnabled);
  EXPECT_FALSE(KillTimer(page, kProgressTimerId)) << "the progress timer is still running";

  const std::string result = ReadBytes(outputPath);
  EXPECT_EQ(result.substr(0, FormatHeaderLine().size()), FormatHeaderLine());
  EXPECT_EQ(WorkstationsOf(result),
            (std::vector<std::string>{"PC1", "PC1", "PC2", "EMPTY", "NOSUCH"}));
  EXPECT_NE(result.find(ExpectedText(kTextRegistryOpenError)), std::string::npos);
  EXPECT_EQ(boxes.boxes().size(), 1u);
}

using testing::ComputerName;

// End to end with the program's own services: this computer through Wine's echo
// and Wine's registry, into which the monitors of tests/data/wine were imported.
TEST_F(BatchPageTest, ExaminesThisComputerWithTheProgramsOwnServices) {
  ASSERT_EQ(LoadIcmpLibrary(), 0);
  dlg().m_BatchPage.AdjustWorkerServices(
      [](BatchServices& services) { services.finishPause = std::chrono::milliseconds(0); });
  const std::string computer = ComputerName();
  ASSERT_FALSE(computer.empty());
  const std::string outputPath = files.File("this-computer.csv");
  WriteBytes(files.File("in.txt"), computer + "\r\n");
  SetNames(files.File("in.txt"), outputPath);
  Press(start);
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextBatchFinished));

  std::vector<std::string> models;
  for (const std::string& line : SplitResultLines(ReadBytes(outputPath))) {
    const std::vector<std::string> fields = ParseCsvLine(line);
    if (fields.size() > 6 && fields[1] == "GLMTEST1") models.push_back(fields[6]);
  }
  EXPECT_EQ(models, (std::vector<std::string>{"GLM ONE", "GLM TWO"}));
}

TEST_F(BatchPageTest, StatusLineShowsTheWorkstationOnceASecond) {
  const std::string inputPath = files.File("in.txt");
  WriteBytes(inputPath, "PC1\r\nPC2\r\n");
  SetNames(inputPath, files.File("out.csv"));
  UseTestServices(dlg().m_BatchPage, std::chrono::milliseconds(1500));
  probe.HoldAt("PC2");
  SetWindowTextA(status, "from before");

  const DWORD started = GetTickCount();
  Press(start);
  EXPECT_EQ(TextOf(status), "from before");  // kept until the first tick
  ASSERT_TRUE(PumpUntil([&] { return TextOf(status) != "from before"; }));
  EXPECT_GE(GetTickCount() - started, 900u);
  EXPECT_TRUE(PumpUntil([&] { return TextOf(status) == ExpectedText(kTextChecking) + "PC2"; }));
  EXPECT_TRUE(probe.Holding());

  // The worker empties the name, pauses, then announces its end: a tick in
  // between shows a single space, which the report leaves standing.
  probe.Release();
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextBatchFinished));
  EXPECT_EQ(TextOf(status), " ");
}

TEST_F(BatchPageTest, AbortPressedSeveralTimesStopsOnce) {
  const std::string outputPath = files.File("out.csv");
  WriteBytes(files.File("in.txt"), "PC1\r\nPC2\r\nEMPTY\r\n");
  SetNames(files.File("in.txt"), outputPath);
  probe.HoldAt("PC1");

  Press(start);
  ASSERT_TRUE(PumpUntil([&] { return probe.Holding(); }));
  for (int press = 0; press < 3; ++press) {
    Press(start);
    EXPECT_EQ(state().stopRequested.load(), 1);
    EXPECT_EQ(state().running, 1);
    EXPECT_EQ(TextOf(start), ExpectedText(kTextAbort));
    EXPECT_EQ(BatchControlsEnabled(), kAllDisabled);
  }
  SetFocus(status);
  focus.Forget();
  probe.Release();

  ASSERT_TRUE(WaitForBoxes(1));
  PumpUntil([] { return false; }, 300);  // nothing more comes
  ASSERT_EQ(boxes.boxes().size(), 1u);
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextBatchAborted));
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
  EXPECT_EQ(state().stopRequested.load(), 0);
  EXPECT_EQ(state().running, 0);
  EXPECT_EQ(TextOf(start), ExpectedText(kTextStart));
  EXPECT_TRUE(focus.Requested(start));
  EXPECT_EQ(BatchControlsEnabled(), kAllEnabled);
  // Stopped while PC1 was examined: the header alone.
  EXPECT_EQ(SplitResultLines(ReadBytes(outputPath)).size(), 1u);
}

TEST_F(BatchPageTest, AbortAfterTheLastLineIsStillReportedAsAStop) {
  const std::string outputPath = files.File("out.csv");
  WriteBytes(files.File("in.txt"), "PC1\r\nPC2");
  SetNames(files.File("in.txt"), outputPath);
  UseTestServices(dlg().m_BatchPage, std::chrono::milliseconds(1500));

  Press(start);
  // Every line read and the name emptied: the worker is in its pause.
  ASSERT_TRUE(PumpUntil(
      [&] { return state().linesRead.load() == 2 && state().CurrentWorkstation().empty(); }));
  Press(start);
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextBatchAborted));
  EXPECT_EQ(WorkstationsOf(ReadBytes(outputPath)), (std::vector<std::string>{"PC1", "PC1", "PC2"}));
}

TEST_F(BatchPageTest, BlankNamesAreRefusedTheInputFirst) {
  SetNames(" \t ", "   ");
  Press(start);
  SetNames(files.File("in.txt"), " ");
  Press(start);

  ASSERT_EQ(boxes.boxes().size(), 2u);
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextInputNameNotSpecified));
  EXPECT_EQ(boxes.boxes()[1].text, ExpectedText(kTextOutputNameNotSpecified));
  for (const testing::RecordedBox& box : boxes.boxes()) {
    EXPECT_EQ(box.style, static_cast<UINT>(MB_ICONEXCLAMATION | MB_OK));
    EXPECT_EQ(box.waitCursorDepth, 1);  // the handler's wait cursor is still on
  }
  EXPECT_EQ(WaitCursorDepth(), 0);
  EXPECT_EQ(state().running, 0);
  EXPECT_FALSE(state().workerThread.joinable());
  EXPECT_EQ(probe.calls(), 0);
  EXPECT_EQ(TextOf(start), ExpectedText(kTextStart));
  EXPECT_EQ(BatchControlsEnabled(), kAllEnabled);
}

TEST_F(BatchPageTest, MissingInputIsReportedAndTheOutputLeftAlone) {
  const std::string outputPath = files.File("keep.csv");
  WriteBytes(outputPath, "kept\r\n");
  SetNames(files.File("no-such-list.txt"), outputPath);
  Press(start);
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextInputOpenError));
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONERROR | MB_OK));
  EXPECT_EQ(ReadBytes(outputPath), "kept\r\n");
  EXPECT_EQ(BatchControlsEnabled(), kAllEnabled);
}

TEST_F(BatchPageTest, OutputThatCannotBeMadeIsReported) {
  WriteBytes(files.File("in.txt"), "PC1\r\n");
  SetNames(files.File("in.txt"), files.File("no-such-folder\\out.csv"));
  Press(start);
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextOutputOpenError));
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONERROR | MB_OK));
}

// Takes the header, then accepts only part of what it is given.
class FillingStream : public OutputStream {
 public:
  explicit FillingStream(std::unique_ptr<OutputStream> file) : file_(std::move(file)) {}
  // The header goes through; the first workstation's lines, written at once,
  // find the disk full.
  std::size_t Write(std::string_view bytes) override {
    if (++writes_ > 1) return file_->Write(bytes.substr(0, bytes.size() / 2));
    return file_->Write(bytes);
  }
  bool Close() override { return file_->Close(); }

 private:
  std::unique_ptr<OutputStream> file_;
  int writes_ = 0;
};

TEST_F(BatchPageTest, WriteFailureIsReportedWithTheErrorIcon) {
  const std::string outputPath = files.File("out.csv");
  WriteBytes(files.File("in.txt"), "PC1\r\nPC2\r\n");
  SetNames(files.File("in.txt"), outputPath);
  openOutput = [](const std::string& path, std::string*) -> std::unique_ptr<OutputStream> {
    std::unique_ptr<OutputStream> file = OpenOutputFile(path);
    if (!file) return nullptr;
    return std::make_unique<FillingStream>(std::move(file));
  };
  UseTestServices(dlg().m_BatchPage, std::chrono::milliseconds(0));
  Press(start);
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextOutputWriteError));
  EXPECT_EQ(boxes.boxes()[0].style, static_cast<UINT>(MB_ICONERROR | MB_OK));
  EXPECT_EQ(probe.calls(), 1);  // the batch ended with the failure
}

TEST_F(BatchPageTest, StopTakesPrecedenceOverAWriteFailure) {
  WriteBytes(files.File("in.txt"), "PC1\r\nPC2\r\n");
  SetNames(files.File("in.txt"), files.File("out.csv"));
  openOutput = [](const std::string& path, std::string*) -> std::unique_ptr<OutputStream> {
    std::unique_ptr<OutputStream> file = OpenOutputFile(path);
    if (!file) return nullptr;
    return std::make_unique<FillingStream>(std::move(file));
  };
  UseTestServices(dlg().m_BatchPage, std::chrono::milliseconds(1500));
  Press(start);
  // The write failed and the worker is in its pause when Abort is pressed.
  ASSERT_TRUE(PumpUntil(
      [&] { return state().linesRead.load() >= 1 && state().CurrentWorkstation().empty(); }));
  Press(start);
  ASSERT_TRUE(WaitForBoxes(1));
  EXPECT_EQ(boxes.boxes()[0].text, ExpectedText(kTextBatchAborted));
  EXPECT_EQ(state().failed, -1);  // the failure is there, the stop goes first
}

TEST_F(BatchPageTest, BrowseButtonsAskTheSystemDialogsAndTakeTheChosenPath) {
  FileDialogScript dialogs;
  SetNames("typed.txt", "typed.csv");
  dialogs.answer = "C:\\lists\\fleet.txt";
  Press(GetDlgItem(page, IDC_INPUT_BROWSE));
  dialogs.answer = "C:\\results\\fleet.csv";
  Press(GetDlgItem(page, IDC_OUTPUT_BROWSE));
  EXPECT_EQ(TextOf(input), "C:\\lists\\fleet.txt");
  EXPECT_EQ(TextOf(output), "C:\\results\\fleet.csv");

  dialogs.answer.clear();  // cancelled: nothing changes
  Press(GetDlgItem(page, IDC_INPUT_BROWSE));
  Press(GetDlgItem(page, IDC_OUTPUT_BROWSE));
  EXPECT_EQ(TextOf(input), "C:\\lists\\fleet.txt");
  EXPECT_EQ(TextOf(output), "C:\\results\\fleet.csv");

  ASSERT_EQ(dialogs.requests.size(), 4u);
  const FileDialogRequest& open = dialogs.requests[0];
  EXPECT_FALSE(open.save);
  EXPECT_EQ(open.owner, page);
  const char openFilter[] =
      "Text Files (*.txt)\0*.txt\0CSV Files (*.csv)\0*.csv\0All Files (*.*)\0*.*\0";
  EXPECT_EQ(open.filter, std::string(openFilter, sizeof openFilter));
  EXPECT_EQ(open.defaultExtension, "txt");
  EXPECT_EQ(open.initialName, "*.txt");  // not the text of the edit
  EXPECT_EQ(open.flags & (OFN_FILEMUSTEXIST | OFN_HIDEREADONLY),
            static_cast<DWORD>(OFN_FILEMUSTEXIST | OFN_HIDEREADONLY));
  EXPECT_TRUE(open.flags & OFN_EXPLORER);

  const FileDialogRequest& save = dialogs.requests[1];
  EXPECT_TRUE(save.save);
  EXPECT_EQ(save.owner, page);
  const char saveFilter[] =
      "CSV Files (*.csv)\0*.csv\0Text Files (*.txt)\0*.txt\0All Files (*.*)\0*.*\0";
  EXPECT_EQ(save.filter, std::string(saveFilter, sizeof saveFilter));
  EXPECT_EQ(save.defaultExtension, "csv");
  EXPECT_EQ(save.initialName, "");
  const DWORD saveFlags =
      OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES;
  EXPECT_EQ(save.flags & saveFlags, saveFlags);
  EXPECT_TRUE(save.flags & OFN_EXPLORER);
  EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(BatchPageTest, LayoutKeepsTheMarginsOfTheTemplate) {
  // The template's distances in this page's pixels: the page 350 x 180 dialog
  // units, the edits at 73 and 210 wide, the buttons at 293 and 50 wide, the
  // status line at 7 and 279 wide; Start and the status line 159 down, 14 high.
  using testing::DialogUnitsX;
  using testing::DialogUnitsY;
  const int pageWidth = DialogUnitsX(page, 350);
  const int editMargin = pageWidth - DialogUnitsX(page, 73) - DialogUnitsX(page, 210);
  const int buttonMargin = pageWidth - DialogUnitsX(page, 293) - DialogUnitsX(page, 50);
  const int statusMargin = pageWidth - DialogUnitsX(page, 7) - DialogUnitsX(page, 279);
  const int bottomMargin =
      DialogUnitsY(page, 180) - DialogUnitsY(page, 159) - DialogUnitsY(page, 14);

  std::vector<RECT> before;
  const int ids[] = {IDC_INPUT_FILE,    IDC_OUTPUT_FILE, IDC_INPUT_BROWSE,
                     IDC_OUTPUT_BROWSE, IDC_START,       IDC_STATUS};
  for (int id : ids) before.push_back(WindowRectInParent(GetDlgItem(page, id)));
  HWND label = GetWindow(input, GW_HWNDPREV);
  const RECT labelBefore = WindowRectInParent(label);

  MoveWindow(page, 20, 40, 900, 600, TRUE);
  const RECT client = testing::ClientRectOf(page);
  const int cx = client.right;
  const int cy = client.bottom;
  auto now = [this](int id) { return WindowRectInParent(GetDlgItem(page, id)); };
  auto width = [](const RECT& r) { return r.right - r.left; };
  auto height = [](const RECT& r) { return r.bottom - r.top; };

  for (int i : {0, 1}) {  // both edits stretch from their left edges
    EXPECT_EQ(now(ids[i]).left, before[i].left);
    EXPECT_EQ(now(ids[i]).top, before[i].top);
    EXPECT_EQ(height(now(ids[i])), height(before[i]));
    EXPECT_EQ(now(ids[i]).right, cx - editMargin);
  }
  for (int i : {2, 3}) {  // both Browse buttons move along the top
    EXPECT_EQ(now(ids[i]).right, cx - buttonMargin);
    EXPECT_EQ(width(now(ids[i])), width(before[i]));
    EXPECT_EQ(now(ids[i]).top, before[i].top);
  }
  EXPECT_EQ(now(IDC_START).right, cx - buttonMargin);
  EXPECT_EQ(now(IDC_START).bottom, cy - bottomMargin);
  EXPECT_EQ(width(now(IDC_START)), width(before[4]));
  EXPECT_EQ(height(now(IDC_START)), height(before[4]));
  EXPECT_EQ(now(IDC_STATUS).left, before[5].left);
  EXPECT_EQ(now(IDC_STATUS).right, cx - statusMargin);
  EXPECT_EQ(now(IDC_STATUS).bottom, cy - bottomMargin);
  EXPECT_EQ(height(now(IDC_STATUS)), height(before[5]));
  const RECT labelNow = WindowRectInParent(label);
  EXPECT_EQ(labelNow.left, labelBefore.left);
  EXPECT_EQ(labelNow.right, labelBefore.right);
}

// Closing the main window while a batch runs, in each way the user can.
struct CloseWay {
  const char* name;
  std::function<void(CGlimmoraDlg&)> close;
};

void PrintTo(const CloseWay& way, std::ostream* out) {
  *out << way.name;
}

void PressKey(HWND target, WPARAM key) {
  PostMessageA(target, WM_KEYDOWN, key, 1);
  PostMessageA(target, WM_KEYUP, key, 1 | (3u << 30));
}

const CloseWay kCloseWays[] = {
    {"CloseBox",
     [](CGlimmoraDlg& dlg) { PostMessageA(dlg.GetSafeHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    {"AltF4",
     [](CGlimmoraDlg& dlg) {
       // The Alt key held: context code set.
       PostMessageA(dlg.GetSafeHwnd(), WM_SYSKEYDOWN, VK_F4, 1 | (1u << 29));
     }},
    // The tab strip is disabled while a batch runs and cannot hold the focus;
    // with the focus nowhere else, the keys reach the main window's keyboard
    // handling as they do from the tab strip.
    {"EnterOnTheTabStrip",
     [](CGlimmoraDlg& dlg) {
       SetFocus(nullptr);
       PressKey(dlg.m_TabCtrl.GetSafeHwnd(), VK_RETURN);
     }},
    {"EscapeOnTheTabStrip",
     [](CGlimmoraDlg& dlg) {
       SetFocus(nullptr);
       PressKey(dlg.m_TabCtrl.GetSafeHwnd(), VK_ESCAPE);
     }},
};

class ClosingDuringABatch : public ::testing::TestWithParam<CloseWay>, protected BatchPageFixture {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
  }
};

TEST_P(ClosingDuringABatch, KeepsEveryFinishedWorkstationAndReportsNothing) {
  constexpr int kWorkstations = 60;
  std::string list;
  for (int i = 0; i < kWorkstations; ++i) {
    const std::string name = "WS" + std::to_string(100 + i);
    AddMonitor(registry.AddWorkstation(name), "GLMA" + std::to_string(i), "ONE", "1-" + name);
    AddMonitor(registry.AddWorkstation(name), "GLMB" + std::to_string(i), "TWO", "2-" + name);
    list += name + "\r\n";
  }
  const std::string inputPath = files.File("in.txt");
  const std::string outputPath = files.File("out.csv");
  WriteBytes(inputPath, list);
  probe.DelayEach(30);

  CGlimmoraDlg dlg;
  int probedAtClose = 0;
  testing::TimedSteps steps(
      {[&] {
         UseTestServices(dlg.m_BatchPage, std::chrono::milliseconds(1000));
         HWND page = dlg.m_BatchPage.GetSafeHwnd();
         SetWindowTextA(GetDlgItem(page, IDC_INPUT_FILE), inputPath.c_str());
         SetWindowTextA(GetDlgItem(page, IDC_OUTPUT_FILE), outputPath.c_str());
         SendMessageA(GetDlgItem(page, IDC_START), BM_CLICK, 0, 0);
       },
       [&] {
         // A few workstations done, the rest still to come.
         for (int waited = 0; probe.calls() < 6 && waited < 5000; waited += 10) Sleep(10);
         probedAtClose = probe.calls();
         GetParam().close(dlg);
       }},
      [&] { return dlg.GetSafeHwnd(); });
  const DWORD closing = GetTickCount();
  dlg.RunModal();
  EXPECT_LT(GetTickCount() - closing, 8000u);

  EXPECT_EQ(steps.stepsRun(), 2);
  EXPECT_FALSE(TheApp().batchState.workerThread.joinable());
  EXPECT_EQ(TheApp().batchState.running, 0);
  // The completion the worker posted finds no page: nothing is reported.
  PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(boxes.boxes().empty());

  // The file is closed whole: the header, then two lines for each finished
  // workstation in the order of the list, none cut short.
  const std::string result = ReadBytes(outputPath);
  ASSERT_GE(result.size(), 2u);
  EXPECT_EQ(result.substr(result.size() - 2), "\r\n");
  const std::vector<std::string> names = WorkstationsOf(result);
  ASSERT_EQ(names.size() % 2, 0u);
  const int finished = static_cast<int>(names.size() / 2);
  for (int i = 0; i < finished; ++i) {
    const std::string expected = "WS" + std::to_string(100 + i);
    EXPECT_EQ(names[2 * i], expected);
    EXPECT_EQ(names[2 * i + 1], expected);
  }
  EXPECT_GE(finished, probedAtClose - 1);
  EXPECT_LT(finished, kWorkstations);
}

INSTANTIATE_TEST_SUITE_P(EveryWay, ClosingDuringABatch, ::testing::ValuesIn(kCloseWays),
                         [](const ::testing::TestParamInfo<CloseWay>& info) {
                           return std::string(info.param.name);
                         });

// A registry whose connect to one workstation hangs the way advapi32's can on
// a filtered port: the call does not come back until the test is over, and the
// registry waits for it under the thread's deadline, as the advapi32 back end
// does. Without a deadline the wait would hold the worker for the whole call.
class HangingConnectRegistry : public testing::ForwardingRegistry {
 public:
  HangingConnectRegistry(RegistryAccess& inner, std::string hangingName)
      : ForwardingRegistry(inner),
        hanging_(std::move(hangingName)),
        gate_(std::make_shared<Gate>()) {}
  ~HangingConnectRegistry() override { gate_->Open(); }

  long ConnectWithin(const std::string& machine, RegKey root, const Deadline& deadline,
                     RegKey* result, std::string* description) override {
    if (machine != hanging_)
      return ForwardingRegistry::ConnectWithin(machine, root, deadline, result, description);
    connects_.fetch_add(1);
    std::shared_ptr<Gate> gate = gate_;
    const std::optional<long> code = CallBeforeDeadline<long>(deadline, [gate] {
      gate->WaitOpen(std::chrono::seconds(30));
      return long{kErrorBadNetPath};
    });
    *result = kNoKey;
    *description = SystemMessageText(code ? *code : kErrorTimeout);
    return code ? *code : kErrorTimeout;
  }
  int connects() const { return connects_.load(); }

 private:
  struct Gate {
    void Open() {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
      opened.notify_all();
    }
    void WaitOpen(std::chrono::seconds patience) {
      std::unique_lock<std::mutex> lock(mutex);
      opened.wait_for(lock, patience, [this] { return open; });
    }
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
  };
  std::string hanging_;
  std::shared_ptr<Gate> gate_;
  std::atomic<int> connects_{0};
};

// The page's worker has the command line's default bound on each workstation,
// and closing the window while a registry connect hangs takes moments, not the
// connect's minutes: the finished workstations' lines stay, none of the hanging
// one, and the file is closed whole.
class ClosingDuringAHangingConnect : public ::testing::Test, protected BatchPageFixture {
 protected:
  static void SetUpTestSuite() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
  }
};

TEST_F(ClosingDuringAHangingConnect, ClosesPromptlyAndKeepsTheFinishedLines) {
  HangingConnectRegistry hanging(registry, "HANG");
  const std::string inputPath = files.File("in.txt");
  const std::string outputPath = files.File("out.csv");
  WriteBytes(inputPath, "PC1\r\nHANG\r\nPC2\r\n");

  CGlimmoraDlg dlg;
  std::chrono::milliseconds pageBound{0};
  DWORD closing = 0;
  testing::TimedSteps steps(
      {[&] {
         dlg.m_BatchPage.AdjustWorkerServices([&](BatchServices& services) {
           pageBound = services.workstationTimeout;
           services.registry = &hanging;
           services.probe = probe.Function();
           services.finishPause = std::chrono::milliseconds(1000);
         });
         HWND page = dlg.m_BatchPage.GetSafeHwnd();
         SetWindowTextA(GetDlgItem(page, IDC_INPUT_FILE), inputPath.c_str());
         SetWindowTextA(GetDlgItem(page, IDC_OUTPUT_FILE), outputPath.c_str());
         SendMessageA(GetDlgItem(page, IDC_START), BM_CLICK, 0, 0);
       },
       [&] {
         for (int waited = 0; hanging.connects() < 1 && waited < 5000; waited += 10) Sleep(10);
         closing = GetTickCount();
         PostMessageA(dlg.GetSafeHwnd(), WM_SYSCOMMAND, SC_CLOSE, 0);
       }},
      [&] { return dlg.GetSafeHwnd(); });
  dlg.RunModal();
  const DWORD closeTook = GetTickCount() - closing;

  EXPECT_EQ(steps.stepsRun(), 2);
  EXPECT_EQ(pageBound, kDefaultWorkstationTimeout);
  EXPECT_EQ(hanging.connects(), 1);
  // Without the stop the wait would last until the hanging call came back (30 s).
  EXPECT_LT(closeTook, 10000u);
  EXPECT_FALSE(TheApp().batchState.workerThread.joinable());
  const std::string result = ReadBytes(outputPath);
  ASSERT_GE(result.size(), 2u);
  EXPECT_EQ(result.substr(result.size() - 2), "\r\n");
  EXPECT_EQ(WorkstationsOf(result), (std::vector<std::string>{"PC1", "PC1"}));
  PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(boxes.boxes().empty());
}

}  // namespace
}  // namespace glimmora
