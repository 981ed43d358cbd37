#include "batch/batch_dialog_win32.h"

#include <initializer_list>

namespace glimmora {

BOOL CBatchDialog::OnInitDialog() {
  RECT page;
  GetClientRect(GetSafeHwnd(), &page);
  if (HWND input = GetDlgItem(IDC_INPUT_FILE)) {
    inputEditMargin = page.right - WindowRectInParent(input).right;
  }
  if (HWND browse = GetDlgItem(IDC_INPUT_BROWSE)) {
    browseMargin = page.right - WindowRectInParent(browse).right;
  }
  if (HWND start = GetDlgItem(IDC_START)) {
    const RECT rect = WindowRectInParent(start);
    startRightMargin = page.right - rect.right;
    startBottomMargin = page.bottom - rect.bottom;
  }
  if (HWND status = GetDlgItem(IDC_STATUS)) {
    const RECT rect = WindowRectInParent(status);
    statusRightMargin = page.right - rect.right;
    statusBottomMargin = page.bottom - rect.bottom;
  }
  return TRUE;
}

void CBatchDialog::OnShowWindow(bool show, UINT /*status*/) {
  if (!show) return;
  if (HWND input = GetDlgItem(IDC_INPUT_FILE)) SetFocus(input);
}

void CBatchDialog::OnSize(UINT sizeType, int cx, int cy) {
  if (sizeType == SIZE_MINIMIZED) return;
  // Buttons keep their size and follow the right (Start also the bottom) edge; the
  // edits stretch. An edge that would cross its opposite stays where it was.
  if (HWND start = GetDlgItem(IDC_START)) {
    RECT rect = WindowRectInParent(start);
    OffsetRect(&rect, cx - startRightMargin - rect.right, cy - startBottomMargin - rect.bottom);
    MoveWindowTo(start, rect);
  }
  for (int id : {IDC_INPUT_FILE, IDC_OUTPUT_FILE}) {
    if (HWND edit = GetDlgItem(id)) {
      RECT rect = WindowRectInParent(edit);
      if (cx - inputEditMargin > rect.left) rect.right = cx - inputEditMargin;
      MoveWindowTo(edit, rect);
    }
  }
  for (int id : {IDC_INPUT_BROWSE, IDC_OUTPUT_BROWSE}) {
    if (HWND browse = GetDlgItem(id)) {
      RECT rect = WindowRectInParent(browse);
      OffsetRect(&rect, cx - browseMargin - rect.right, 0);
      MoveWindowTo(browse, rect);
    }
  }
  if (HWND status = GetDlgItem(IDC_STATUS)) {
    RECT rect = WindowRectInParent(status);
    if (cx - statusRightMargin > rect.left) rect.right = cx - statusRightMargin;
    // The status line keeps its height and moves with the bottom edge.
    OffsetRect(&rect, 0, cy - statusBottomMargin - rect.bottom);
    MoveWindowTo(status, rect);
  }
}

}  // namespace glimmora
