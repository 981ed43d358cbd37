#pragma once
// The Batch Process page: input and output file names, Start and Abort, and the
// status line, stretched with the main window. It starts the batch worker on a
// thread of its own, shows its progress once a second and reports its end.

#include <windows.h>

#include <functional>
#include <memory>
#include <utility>

#include "batch/batch_worker.h"
#include "inventory/registry/registry_access.h"
#include "resources/resource.h"
#include "window/anchoring.h"
#include "window/controls.h"
#include "window/dialog.h"

namespace glimmora {

// The private message by which the worker announces its end to the page;
// both parameters are 0.
inline constexpr UINT kWmBatchFinished = WM_USER + 2;

// The page's progress timer and its period.
inline constexpr UINT_PTR kProgressTimerId = 1;
inline constexpr UINT kProgressPeriodMs = 1000;

// The filters of the two file dialogs, in the form the dialog framework writes them.
inline constexpr char kInputFileFilter[] =
    "Text Files (*.txt)|*.txt|CSV Files (*.csv)|*.csv|All Files (*.*)|*.*||";
inline constexpr char kOutputFileFilter[] =
    "CSV Files (*.csv)|*.csv|Text Files (*.txt)|*.txt|All Files (*.*)|*.*||";

// What the Batch page shares with the rest of the program, owned by the
// application object: the record it shares with its worker, and the main
// window's tab strip (null while there is no main window), which is disabled
// while a batch runs.
struct BatchPageLinks {
  BatchState& state;
  std::function<CTabCtrl*()> tabStrip;
};

class CBatchDialog : public CDialog, private BatchObserver {
 public:
  explicit CBatchDialog(BatchPageLinks links) noexcept
      : CDialog(IDD_BATCH_DIALOG), links_(std::move(links)) {}
  ~CBatchDialog() override;

  // Disables or enables what must not change while a batch runs: the main
  // window's tab strip, then edit 1004, edit 1006, button 1005, button 1007.
  void EnableBatchControls(bool enable);

  // For the main window as it closes: a running batch is asked to stop, and its
  // worker is waited for, so that the result file is closed whole and nothing
  // reaches the page once it is gone. The stop also ends the wait of a call
  // in progress, so the wait is short.
  void EndBatchBeforeClosing();

  // Changes the services of every later batch's worker after the program's
  // own are set up (the echo probe, the network's registry, the real files, the
  // pause before the end is announced); the page's own notification is set
  // afterwards. For tests; an empty function leaves the program's services.
  void AdjustWorkerServices(std::function<void(BatchServices&)> adjust);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnTimer(UINT_PTR timerId) override;
  void OnShowWindow(bool show, UINT status) override;
  void OnSize(UINT sizeType, int cx, int cy) override;
  // WM_BATCH_FINISHED before the normal dispatch; WM_DESTROY.
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void OnBrowseInput();
  void OnBrowseOutput();
  void OnStartOrAbort();
  void OnBatchFinished();
  BatchServices WorkerServices();
  // From the worker thread: the page hears of the end only through its
  // posted message.
  void BatchFinished() override;

  // The controls' distances from the page's right and bottom edges, measured
  // from the template's layout when the page initialises.
  AnchoredLayout layout_;

  // What the running worker works with; it lives until the worker has ended.
  BatchServices workerServices_;
  HWND workerPage_ = nullptr;  // where BatchFinished posts, set before the worker starts
  // The network's registry, made at the first batch.
  std::unique_ptr<RegistryAccess> networkRegistry_;
  std::function<void(BatchServices&)> adjustServices_;
  BatchPageLinks links_;
};

}  // namespace glimmora
