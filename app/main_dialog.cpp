#include "app/main_dialog.h"

#include <commctrl.h>

#include <initializer_list>

#include "app/glimmora_app.h"
#include "resources/resource.h"
#include "resources/texts.h"

namespace glimmora {

namespace {
// Moves the right and bottom edges of a child window so that it is width by height
// pixels from its unchanged top-left corner. An extent of 0 or less leaves that
// edge where it was, so a tiny window never makes an empty or inverted rectangle.
void StretchFromTopLeft(HWND window, int width, int height) {
  RECT rect;
  if (!GetWindowRect(window, &rect)) return;
  if (width > 0) rect.right = rect.left + width;
  if (height > 0) rect.bottom = rect.top + height;
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  MoveWindowTo(window, rect);
}

void ShowPage(const CDialog& page, bool show) {
  if (page.GetSafeHwnd() != nullptr) ShowWindow(page.GetSafeHwnd(), show ? SW_SHOW : SW_HIDE);
}
}  // namespace

CGlimmoraDlg::CGlimmoraDlg() noexcept
    : CDialog(IDD_GLIMMORA_DIALOG),
      m_hIcon(LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_QuickPage(QuickPageLinks{TheApp().quickListSort, TheApp().m_pQuickList}),
      m_BatchPage(BatchPageLinks{TheApp().batchState, []() -> CTabCtrl* {
                                   CGlimmoraDlg* main = TheApp().m_pMainDlg;
                                   return main != nullptr ? &main->m_TabCtrl : nullptr;
                                 }}) {}

CGlimmoraDlg::~CGlimmoraDlg() {
  // The pages go with the window while this object is still whole.
  DestroyWindow();
  if (TheApp().m_pMainDlg == this) TheApp().m_pMainDlg = nullptr;
}

void CGlimmoraDlg::BindControls() {
  m_TabCtrl.Attach(GetDlgItem(IDC_TAB));
}

BOOL CGlimmoraDlg::OnInitDialog() {
  HWND window = GetSafeHwnd();
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  // The pages are children of this window, laid over the tab strip; if one cannot
  // be made the window still opens with whatever exists.
  if (m_QuickPage.Create(window) && m_BatchPage.Create(window) && m_AboutPage.Create(window)) {
    RECT pageRect;
    GetClientRect(m_QuickPage.GetSafeHwnd(), &pageRect);
    OffsetRect(&pageRect, kPageOrigin.x, kPageOrigin.y);
    for (const CDialog* page :
         {static_cast<const CDialog*>(&m_QuickPage), static_cast<const CDialog*>(&m_BatchPage),
          static_cast<const CDialog*>(&m_AboutPage)}) {
      MoveWindowTo(page->GetSafeHwnd(), pageRect, false);
    }

    m_TabCtrl.InsertItem(0, LoadText(kTextTabQuickCheck));
    m_TabCtrl.InsertItem(1, LoadText(kTextTabBatchProcess));
    m_TabCtrl.InsertItem(2, LoadText(kTextTabAbout));

    HWND tab = m_TabCtrl.GetSafeHwnd();
    SetWindowLongPtrA(tab, GWL_EXSTYLE, GetWindowLongPtrA(tab, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);

    ShowSelectedPage();
  }
  TheApp().m_pMainDlg = this;
  // The page just shown has put the focus into its first field.
  return FALSE;
}

void CGlimmoraDlg::ShowSelectedPage() {
  const int selected = m_TabCtrl.GetCurSel();
  ShowPage(m_QuickPage, selected == 0);
  ShowPage(m_BatchPage, selected == 1);
  ShowPage(m_AboutPage, selected != 0 && selected != 1);
}

bool CGlimmoraDlg::OnCommand(int id, int code, HWND control) {
  // The worker is stopped and waited for while every window still stands, so
  // its result file is closed whole before the program ends.
  if (id == IDOK || id == IDCANCEL) m_BatchPage.EndBatchBeforeClosing();
  return CDialog::OnCommand(id, code, control);
}

bool CGlimmoraDlg::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_TAB || header->code != static_cast<UINT>(TCN_SELCHANGE)) return false;
  ShowSelectedPage();
  result = 0;
  return true;
}

void CGlimmoraDlg::OnSize(UINT sizeType, int cx, int cy) {
  if (sizeType == SIZE_MINIMIZED) return;
  HWND tab = GetDlgItem(IDC_TAB);
  if (tab == nullptr) return;  // sizes during creation
  StretchFromTopLeft(tab, cx - kTabStripMargin, cy - kTabStripMargin);
  // Hidden pages too, so each is the right size whenever it is shown.
  for (const CDialog* page :
       {static_cast<const CDialog*>(&m_QuickPage), static_cast<const CDialog*>(&m_BatchPage),
        static_cast<const CDialog*>(&m_AboutPage)}) {
    if (page->GetSafeHwnd() != nullptr) {
      StretchFromTopLeft(page->GetSafeHwnd(), cx - kPageWidthMargin, cy - kPageHeightMargin);
    }
  }
}

bool CGlimmoraDlg::OnMessage(UINT message, WPARAM /*wParam*/, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_PAINT:
      if (!IsIconic(GetSafeHwnd())) return false;
      PaintMinimized();
      result = 0;
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<LRESULT>(m_hIcon);
      return true;
    case WM_GETMINMAXINFO:
      reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {kMinimumWindowSize.cx,
                                                               kMinimumWindowSize.cy};
      return false;
    default:
      return false;
  }
}

void CGlimmoraDlg::PaintMinimized() {
  HWND window = GetSafeHwnd();
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  SendMessageA(window, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(window, &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(window, &paint);
}

}  // namespace glimmora
