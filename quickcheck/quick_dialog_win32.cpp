#include "quickcheck/quick_dialog_win32.h"

#include "app/glimmora_app.h"

namespace glimmora {

CQuickDialog::~CQuickDialog() {
  if (TheApp().m_pQuickList == &m_MonitorList) TheApp().m_pQuickList = nullptr;
}

void CQuickDialog::BindControls() {
  m_MonitorList.Attach(GetDlgItem(IDC_MONITOR_LIST));
}

BOOL CQuickDialog::OnInitDialog() {
  RECT page;
  GetClientRect(GetSafeHwnd(), &page);
  if (HWND name = GetDlgItem(IDC_WORKSTATION_NAME)) {
    nameRightMargin = page.right - WindowRectInParent(name).right;
  }
  if (HWND button = GetDlgItem(IDC_CHECK)) {
    buttonRightMargin = page.right - WindowRectInParent(button).right;
  }
  if (HWND list = GetDlgItem(IDC_MONITOR_LIST)) {
    const RECT rect = WindowRectInParent(list);
    listRightMargin = page.right - rect.right;
    listBottomMargin = page.bottom - rect.bottom;
  }
  TheApp().m_pQuickList = &m_MonitorList;
  return TRUE;
}

void CQuickDialog::OnShowWindow(bool show, UINT /*status*/) {
  if (!show) return;
  if (HWND name = GetDlgItem(IDC_WORKSTATION_NAME)) SetFocus(name);
}

void CQuickDialog::OnSize(UINT /*sizeType*/, int cx, int cy) {
  // Right and bottom edges follow the page; an edge that would cross its opposite
  // stays where it was.
  if (HWND name = GetDlgItem(IDC_WORKSTATION_NAME)) {
    RECT rect = WindowRectInParent(name);
    if (cx - nameRightMargin > rect.left) rect.right = cx - nameRightMargin;
    MoveWindowTo(name, rect);
  }
  if (HWND button = GetDlgItem(IDC_CHECK)) {
    RECT rect = WindowRectInParent(button);
    OffsetRect(&rect, cx - buttonRightMargin - rect.right, 0);
    MoveWindowTo(button, rect);
  }
  if (HWND list = GetDlgItem(IDC_MONITOR_LIST)) {
    RECT rect = WindowRectInParent(list);
    if (cx - listRightMargin > rect.left) rect.right = cx - listRightMargin;
    if (cy - listBottomMargin > rect.top) rect.bottom = cy - listBottomMargin;
    MoveWindowTo(list, rect);
  }
}

}  // namespace glimmora
