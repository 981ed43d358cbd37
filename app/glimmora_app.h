#pragma once
// The application object: prepares the process, runs the main window for the
// length of the program and tidies up after it.

#include "batch/batch_worker.h"
#include "quickcheck/monitor_list.h"

namespace glimmora {

class CGlimmoraDlg;
class CMonitorListCtrl;

class CGlimmoraApp {
 public:
  // Loads the ICMP echo service: 0 when usable, -1 when not.
  using IcmpLoader = int (*)();

  CGlimmoraApp() noexcept;
  virtual ~CGlimmoraApp() = default;
  CGlimmoraApp(const CGlimmoraApp&) = delete;
  CGlimmoraApp& operator=(const CGlimmoraApp&) = delete;

  // The whole run: start-up, the main window until it closes, then the clean-up.
  // Always false: nothing is left to run afterwards.
  virtual bool InitInstance();

  // Replaces the echo-service loader that start-up calls (LoadIcmpLibrary unless
  // replaced); returns the one before.
  IcmpLoader ReplaceIcmpLoader(IcmpLoader loader) noexcept;

  // Non-owning references between the pages, null outside the main window's life.
  CGlimmoraDlg* m_pMainDlg = nullptr;        // set by the main window once it has initialised
  CMonitorListCtrl* m_pQuickList = nullptr;  // set by the Quick Check page for its list's sorting

  // Process-wide values the pages share; start-up sets their start values
  // before the main window exists.
  BatchState batchState;           // shared by the Batch page and its worker
  MonitorSortState quickListSort;  // the Quick Check list's order, kept for the whole run

 private:
  IcmpLoader loadIcmpLibrary_;
};

// The one application object of the process.
CGlimmoraApp& TheApp();

}  // namespace glimmora
