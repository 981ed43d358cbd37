#pragma once
// The Quick Check page: a workstation name, the Check button and the list of the
// workstation's monitors, stretched with the main window.

#include <windows.h>

#include <memory>

#include "inventory/registry/registry_access.h"
#include "quickcheck/check_sequence.h"
#include "quickcheck/icmp_probe.h"
#include "quickcheck/monitor_list.h"
#include "quickcheck/page/monitor_list_win32.h"
#include "resources/resource.h"
#include "window/anchoring.h"
#include "window/dialog.h"

namespace glimmora {

// What the Quick Check page shares with the rest of the program, all owned by
// the application object: the list's order for the whole run and the reference
// to the page's list that the list's sort reaches it through.
struct QuickPageLinks {
  MonitorSortState& sort;
  CMonitorListCtrl*& quickList;
};

class CQuickDialog : public CDialog {
 public:
  explicit CQuickDialog(QuickPageLinks links) noexcept;
  ~CQuickDialog() override;

  // The probe and the registry that checks use; nullptr stands for the program's
  // own (the ICMP echo, the network's registry). Lets tests put in others.
  void ReplaceCheckServices(ReachabilityProbe* probe, RegistryAccess* registry) noexcept;

  CMonitorListCtrl m_MonitorList;  // control 1002

 protected:
  void BindControls() override;
  BOOL OnInitDialog() override;
  void OnShowWindow(bool show, UINT status) override;
  void OnSize(UINT sizeType, int cx, int cy) override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;

 private:
  // The check of the name in the name field, on this thread under the wait cursor.
  void OnCheck();
  RegistryAccess& Registry();

  // The controls' distances from the page's right and bottom edges, measured
  // from the template's layout when the page initialises.
  AnchoredLayout layout_;

  IcmpProbe icmpProbe_;
  ReachabilityProbe* probe_ = &icmpProbe_;
  // The network's registry, made at the first check that needs it.
  std::unique_ptr<RegistryAccess> networkRegistry_;
  RegistryAccess* registry_ = nullptr;  // a replacement, or null for the network's
  CMonitorListCtrl*& quickList_;
  // The list's rules over the control, with the sort state of the whole run.
  MonitorList monitorList_;
};

}  // namespace glimmora
