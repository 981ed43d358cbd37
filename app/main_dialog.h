#pragma once
// The main window: a tab strip with three pages, one visible at a time, kept
// sized to the window.

#include <windows.h>

#include "app/about_dialog.h"
#include "batch/page/batch_dialog_win32.h"
#include "quickcheck/page/quick_dialog_win32.h"
#include "window/controls.h"
#include "window/dialog.h"

namespace glimmora {

// Layout of the main window, in pixels.
inline constexpr POINT kPageOrigin = {20, 40};          // pages' top-left corner in the client area
inline constexpr int kTabStripMargin = 21;              // client size minus tab strip size
inline constexpr int kPageWidthMargin = 42;             // client width minus page width
inline constexpr int kPageHeightMargin = 63;            // client height minus page height
inline constexpr SIZE kMinimumWindowSize = {350, 210};  // outer size, frame included

class CGlimmoraDlg : public CDialog {
 public:
  CGlimmoraDlg() noexcept;
  ~CGlimmoraDlg() override;

  // Shows the page of the selected tab and hides the others; with no tab selected
  // (-1) the About page shows.
  void ShowSelectedPage();

  HICON m_hIcon;
  CQuickDialog m_QuickPage;
  CBatchDialog m_BatchPage;
  CAboutDialog m_AboutPage;
  CTabCtrl m_TabCtrl;

 protected:
  void BindControls() override;
  BOOL OnInitDialog() override;
  // IDOK and IDCANCEL close the window (close box, Alt+F4, Enter or Escape on
  // the tab strip); a running batch is ended first.
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  void OnSize(UINT sizeType, int cx, int cy) override;
  // WM_PAINT (the icon while minimised), WM_QUERYDRAGICON, WM_GETMINMAXINFO.
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  void PaintMinimized();
};

}  // namespace glimmora
