#include "batch/page/batch_dialog_win32.h"

#include <initializer_list>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "common/ansi_text.h"
#include "inventory/registry/registry_network.h"
#include "reachability/probe.h"
#include "resources/texts.h"
#include "window/file_dialog.h"
#include "window/message_box.h"

namespace glimmora {

namespace {

void SetText(HWND window, const std::string& text) {
  if (window != nullptr) SetWindowTextA(window, text.c_str());
}

}  // namespace

CBatchDialog::~CBatchDialog() {
  // The worker uses this page's services; it must be gone before they are.
  EndBatchBeforeClosing();
}

void CBatchDialog::AdjustWorkerServices(std::function<void(BatchServices&)> adjust) {
  adjustServices_ = std::move(adjust);
}

BOOL CBatchDialog::OnInitDialog() {
  // Buttons keep their size and follow the right (Start also the bottom) edge;
  // the edits stretch, both by the margins of edit 1004, and both Browse
  // buttons keep those of button 1005; the status line stretches and keeps
  // its height at the bottom.
  layout_.Measure(GetSafeHwnd(),
                  {{IDC_START, EdgeRule::kFollow, EdgeRule::kFollow},
                   {IDC_INPUT_FILE, EdgeRule::kStretch, EdgeRule::kStays},
                   {IDC_OUTPUT_FILE, EdgeRule::kStretch, EdgeRule::kStays, IDC_INPUT_FILE},
                   {IDC_INPUT_BROWSE, EdgeRule::kFollow, EdgeRule::kStays},
                   {IDC_OUTPUT_BROWSE, EdgeRule::kFollow, EdgeRule::kStays, IDC_INPUT_BROWSE},
                   {IDC_STATUS, EdgeRule::kStretch, EdgeRule::kFollow}});
  return TRUE;
}

bool CBatchDialog::OnCommand(int id, int code, HWND control) {
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_INPUT_BROWSE:
        OnBrowseInput();
        return true;
      case IDC_OUTPUT_BROWSE:
        OnBrowseOutput();
        return true;
      case IDC_START:
        OnStartOrAbort();
        return true;
      default:
        break;
    }
  }
  return CDialog::OnCommand(id, code, control);
}

void CBatchDialog::OnBrowseInput() {
  FileDialogRequest request;
  request.save = false;
  request.owner = GetSafeHwnd();
  request.filter = FileDialogFilter(kInputFileFilter);
  request.defaultExtension = "txt";
  request.initialName = "*.txt";
  request.flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER | OFN_ENABLESIZING;
  std::string path;
  if (ShowFileDialog(request, &path)) SetText(GetDlgItem(IDC_INPUT_FILE), path);
}

void CBatchDialog::OnBrowseOutput() {
  FileDialogRequest request;
  request.save = true;
  request.owner = GetSafeHwnd();
  request.filter = FileDialogFilter(kOutputFileFilter);
  request.defaultExtension = "csv";
  request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES |
                  OFN_EXPLORER | OFN_ENABLESIZING;
  std::string path;
  if (ShowFileDialog(request, &path)) SetText(GetDlgItem(IDC_OUTPUT_FILE), path);
}

void CBatchDialog::EnableBatchControls(bool enable) {
  if (CTabCtrl* tabStrip = links_.tabStrip ? links_.tabStrip() : nullptr) {
    tabStrip->EnableWindow(enable);
  }
  for (int id : {IDC_INPUT_FILE, IDC_OUTPUT_FILE, IDC_INPUT_BROWSE, IDC_OUTPUT_BROWSE}) {
    if (HWND control = GetDlgItem(id)) EnableWindow(control, enable ? TRUE : FALSE);
  }
}

BatchServices CBatchDialog::WorkerServices() {
  BatchServices services = PlatformBatchServices();
  // A workstation whose registry connect hangs (advapi32 can wait for minutes)
  // costs at most this, and a stop or the window's closing ends the wait.
  services.workstationTimeout = kDefaultWorkstationTimeout;
  if (!networkRegistry_) networkRegistry_ = CreateNetworkRegistry();
  services.registry = networkRegistry_.get();
  services.probe = [](const std::string& name, std::string& text, const Deadline& deadline) {
    return PingHost(name, text, deadline);
  };
  if (adjustServices_) adjustServices_(services);
  workerPage_ = GetSafeHwnd();
  services.observer = this;
  return services;
}

void CBatchDialog::BatchFinished() {
  PostMessageA(workerPage_, kWmBatchFinished, 0, 0);
}

void CBatchDialog::OnStartOrAbort() {
  BatchState& state = links_.state;
  if (state.running == 1) {
    // Abort: only the request; the completion reports it.
    state.RequestStop();
    return;
  }

  CWaitCursor waitCursor;
  EnableBatchControls(false);
  const std::string inputPath = TrimWhiteSpace(WindowTextOf(GetDlgItem(IDC_INPUT_FILE)));
  if (inputPath.empty()) {
    ShowMessageBox(GetSafeHwnd(), LoadText(kTextInputNameNotSpecified), MB_ICONEXCLAMATION | MB_OK);
    EnableBatchControls(true);
    return;
  }
  state.inputPath = inputPath;
  const std::string outputPath = TrimWhiteSpace(WindowTextOf(GetDlgItem(IDC_OUTPUT_FILE)));
  if (outputPath.empty()) {
    ShowMessageBox(GetSafeHwnd(), LoadText(kTextOutputNameNotSpecified),
                   MB_ICONEXCLAMATION | MB_OK);
    EnableBatchControls(true);
    return;
  }
  state.outputPath = outputPath;

  state.stopRequested.store(0);
  workerServices_ = WorkerServices();
  try {
    state.workerThread = std::thread(BatchThreadProc, std::ref(state), std::cref(workerServices_));
  } catch (const std::system_error&) {
    state.running = 0;
    EnableBatchControls(true);
    return;
  }
  state.running = 1;
  state.timerId = SetTimer(GetSafeHwnd(), kProgressTimerId, kProgressPeriodMs, nullptr);
  SetText(GetDlgItem(IDC_START), LoadText(kTextAbort));
  RedrawWindow(GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE);
}

void CBatchDialog::OnTimer(UINT_PTR /*timerId*/) {
  const BatchState& state = links_.state;
  if (state.running != 1) return;
  const std::string workstation = state.CurrentWorkstation();
  SetText(GetDlgItem(IDC_STATUS),
          workstation.empty() ? std::string(" ") : LoadText(kTextChecking) + workstation);
}

bool CBatchDialog::OnMessage(UINT message, WPARAM /*wParam*/, LPARAM /*lParam*/,
                             LRESULT& /*result*/) {
  if (message == kWmBatchFinished) {
    OnBatchFinished();
  } else if (message == WM_DESTROY) {
    // Whatever destroys the page, the worker must not outlive it.
    EndBatchBeforeClosing();
  }
  // Both go on to the default handling.
  return false;
}

void CBatchDialog::OnBatchFinished() {
  BatchState& state = links_.state;
  // A completion whose worker was already waited for (the window was closing)
  // has nothing left to report.
  if (!state.workerThread.joinable()) return;
  state.workerThread.join();
  state.running = 0;

  if (state.StopRequested()) {
    ShowMessageBox(GetSafeHwnd(), LoadText(kTextBatchAborted), MB_ICONEXCLAMATION | MB_OK);
    state.stopRequested.store(0);
  } else if (state.failed != 0) {
    ShowMessageBox(GetSafeHwnd(), state.failureText, state.failureStyle | MB_OK);
  } else {
    ShowMessageBox(GetSafeHwnd(), LoadText(kTextBatchFinished), MB_ICONINFORMATION | MB_OK);
  }

  if (HWND start = GetDlgItem(IDC_START)) {
    SetText(start, LoadText(kTextStart));
    SetFocus(start);
  }
  EnableBatchControls(true);
  KillTimer(GetSafeHwnd(), state.timerId);
}

void CBatchDialog::EndBatchBeforeClosing() {
  BatchState& state = links_.state;
  if (!state.workerThread.joinable()) return;
  state.RequestStop();
  {
    // The worker stops at its next check: between workstations, device
    // identifiers or rows. It posts its completion before it ends; the page
    // does not handle that any more.
    CWaitCursor waitCursor;
    state.workerThread.join();
  }
  state.running = 0;
  state.stopRequested.store(0);
  if (GetSafeHwnd() != nullptr) KillTimer(GetSafeHwnd(), state.timerId);
}

void CBatchDialog::OnShowWindow(bool show, UINT /*status*/) {
  if (!show) return;
  if (HWND input = GetDlgItem(IDC_INPUT_FILE)) SetFocus(input);
}

void CBatchDialog::OnSize(UINT sizeType, int cx, int cy) {
  if (sizeType == SIZE_MINIMIZED) return;
  layout_.Apply(GetSafeHwnd(), cx, cy);
}

}  // namespace glimmora
