#pragma once
// The Quick Check page: a workstation name, the Check button and the list of the
// workstation's monitors, stretched with the main window.

#include <windows.h>

#include "app/resource.h"
#include "app/window/controls.h"
#include "app/window/dialog.h"

namespace glimmora {

class CQuickDialog : public CDialog {
 public:
  CQuickDialog() noexcept : CDialog(IDD_QUICK_DIALOG) {}
  ~CQuickDialog() override;

  CListCtrl m_MonitorList;  // control 1002

 protected:
  void BindControls() override;
  BOOL OnInitDialog() override;
  void OnShowWindow(bool show, UINT status) override;
  void OnSize(UINT sizeType, int cx, int cy) override;

 private:
  // Distances in pixels from the page's right or bottom edge, measured from the
  // template's layout when the page initialises.
  int nameRightMargin = 0;    // name field 1001
  int buttonRightMargin = 0;  // Check button 1003
  int listRightMargin = 0;    // list 1002
  int listBottomMargin = 0;
};

}  // namespace glimmora
