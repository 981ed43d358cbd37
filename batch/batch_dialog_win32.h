#pragma once
// The Batch Process page: input and output file names, Start and Abort, and the
// status line, stretched with the main window.

#include <windows.h>

#include "app/resource.h"
#include "app/window/dialog.h"

namespace glimmora {

class CBatchDialog : public CDialog {
 public:
  CBatchDialog() noexcept : CDialog(IDD_BATCH_DIALOG) {}

 protected:
  BOOL OnInitDialog() override;
  void OnShowWindow(bool show, UINT status) override;
  void OnSize(UINT sizeType, int cx, int cy) override;

 private:
  // Distances in pixels from the page's right or bottom edge, measured from the
  // template's layout when the page initialises.
  int inputEditMargin = 0;   // edit 1004, used for both name edits
  int browseMargin = 0;      // button 1005, used for both Browse buttons
  int startRightMargin = 0;  // button 1008
  int startBottomMargin = 0;
  int statusRightMargin = 0;  // status line 1009
  int statusBottomMargin = 0;
};

}  // namespace glimmora
