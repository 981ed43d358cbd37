#include "window/dialog.h"

namespace glimmora {

namespace {
// Class atom of the system's dialog windows (WC_DIALOG, "#32770").
constexpr ULONG_PTR kDialogClassAtom = 32770;

bool IsDialogWindow(HWND hwnd) {
  return GetClassLongPtrA(hwnd, GCW_ATOM) == kDialogClassAtom;
}

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
      return true;
    default:
      return false;
  }
}
}  // namespace

HINSTANCE ResourceModule() noexcept {
  return GetModuleHandleA(nullptr);
}

RECT WindowRectInParent(HWND window) noexcept {
  RECT rect{};
  if (window == nullptr || !GetWindowRect(window, &rect)) return RECT{};
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::string WindowTextOf(HWND window) {
  if (window == nullptr) return {};
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), length + 1)));
  return text;
}

void MoveWindowTo(HWND window, const RECT& rect, bool repaint) noexcept {
  MoveWindow(window, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
             repaint ? TRUE : FALSE);
}

CDialog::~CDialog() {
  DestroyWindow();
}

bool CDialog::Create(HWND parent) {
  if (hwnd_ != nullptr) return false;
  return CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), parent, DialogProc,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

INT_PTR CDialog::RunModal() {
  if (hwnd_ != nullptr) return -1;
  inModalRun_ = true;
  modalEnded_ = false;
  modalResult_ = -1;
  if (CreateDialogParamA(ResourceModule(), MAKEINTRESOURCEA(templateId_), nullptr, DialogProc,
                         reinterpret_cast<LPARAM>(this)) == nullptr) {
    inModalRun_ = false;
    return -1;
  }
  if (!modalEnded_ && !IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_SHOWNORMAL);

  bool quit = false;
  WPARAM quitCode = 0;
  MSG msg;
  while (!modalEnded_ && hwnd_ != nullptr) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      quit = true;
      quitCode = msg.wParam;
      break;
    }
    if (got == -1) break;
    if (!PreTranslateDialogMessage(&msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  DestroyWindow();
  inModalRun_ = false;
  // A WM_QUIT taken by this loop belongs to whoever runs the loop outside it.
  if (quit) PostQuitMessage(static_cast<int>(quitCode));
  return modalResult_;
}

void CDialog::EndModal(INT_PTR result) noexcept {
  if (!inModalRun_) return;
  modalResult_ = result;
  modalEnded_ = true;
  // Wakes the loop if the call came from inside a nested loop (a message box).
  if (hwnd_ != nullptr) PostMessageA(hwnd_, WM_NULL, 0, 0);
}

void CDialog::DestroyWindow() noexcept {
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

HWND CDialog::GetDlgItem(int id) const noexcept {
  return hwnd_ != nullptr ? ::GetDlgItem(hwnd_, id) : nullptr;
}

bool CDialog::PreTranslateDialogMessage(MSG* msg) {
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return false;
  for (HWND w = msg->hwnd; w != nullptr;
       w = (GetWindowLongA(w, GWL_STYLE) & WS_CHILD) ? GetParent(w) : nullptr) {
    if (IsDialogWindow(w)) return IsDialogMessageA(w, msg) != FALSE;
  }
  return false;
}

bool CDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id != IDOK && id != IDCANCEL) return false;
  EndModal(id);
  return true;
}

bool CDialog::OnNotify(NMHDR* /*header*/, LRESULT& /*result*/) {
  return false;
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
  return false;
}

bool CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (OnMessage(message, wParam, lParam, result)) return true;
  switch (message) {
    case WM_INITDIALOG:
      BindControls();
      result = OnInitDialog();
      if (inModalRun_) CenterOnScreen();
      return true;
    case WM_COMMAND:
      return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
    case WM_NOTIFY:
      return OnNotify(reinterpret_cast<NMHDR*>(lParam), result);
    case WM_TIMER:
      OnTimer(wParam);
      return false;
    case WM_SIZE:
      OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
      return false;
    case WM_SHOWWINDOW:
      OnShowWindow(wParam != 0, static_cast<UINT>(lParam));
      return false;
    default:
      return false;
  }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
  } else {
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  }
  // Messages that come before WM_INITDIALOG get the default handling.
  if (self == nullptr) return FALSE;

  LRESULT result = 0;
  bool handled = false;
  try {
    handled = self->Dispatch(message, wParam, lParam, result);
  } catch (...) {
    // The message counts as unhandled; the window and the program go on.
    handled = false;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  if (!handled) return FALSE;
  if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

void CDialog::CenterOnScreen() noexcept {
  RECT window;
  if (!GetWindowRect(hwnd_, &window)) return;
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoA(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& area = monitor.rcWork;
  const int width = window.right - window.left;
  const int height = window.bottom - window.top;
  const int x = area.left + (area.right - area.left - width) / 2;
  const int y = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace glimmora
