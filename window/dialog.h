#pragma once
// A dialog window made from a template of the program's resources, with its
// messages handed to virtual handlers. The program runs one of these modally (the
// main window) and the rest as modeless child pages inside it.
//
// Every handler runs on the window's thread. No exception leaves a handler: the
// window procedure stops them, because none may cross into the window system.

#include <windows.h>

#include <string>

namespace glimmora {

class CDialog {
 public:
  explicit CDialog(int templateId) noexcept : templateId_(templateId) {}
  virtual ~CDialog();

  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Makes the window from the template as a modeless child of parent; it stays
  // hidden unless the template says otherwise. False when it could not be made.
  bool Create(HWND parent);

  // Makes the window as an unowned top-level window, centres it on the screen and
  // serves its messages until IDOK or IDCANCEL ends the run (the close box and
  // Alt+F4 arrive as IDCANCEL). Returns that command id, or -1 when the window
  // could not be made. The window is destroyed before this returns.
  INT_PTR RunModal();
  // Ends the modal run from inside a handler; the window closes once the handler returns.
  void EndModal(INT_PTR result) noexcept;

  void DestroyWindow() noexcept;

  HWND GetSafeHwnd() const noexcept { return hwnd_; }
  HWND GetDlgItem(int id) const noexcept;
  int TemplateId() const noexcept { return templateId_; }

  // Keyboard handling of the modal run: hands msg to the innermost dialog window
  // that contains its target, so Tab, Enter and Escape act on the page that has the
  // focus rather than on the main window. True when the message was consumed.
  static bool PreTranslateDialogMessage(MSG* msg);

 protected:
  // Called before OnInitDialog to attach member controls to their windows.
  virtual void BindControls() {}
  // WM_INITDIALOG. True lets the system put the focus on the first control.
  virtual BOOL OnInitDialog() { return TRUE; }
  // WM_COMMAND. The default ends a modal run on IDOK and IDCANCEL; a modeless page
  // ignores them, so Enter and Escape never close it. True when handled.
  virtual bool OnCommand(int id, int code, HWND control);
  // WM_NOTIFY; result is the message's result. True when handled.
  virtual bool OnNotify(NMHDR* header, LRESULT& result);
  virtual void OnTimer(UINT_PTR /*timerId*/) {}
  virtual void OnSize(UINT /*sizeType*/, int /*cx*/, int /*cy*/) {}
  // WM_SHOWWINDOW; the dialog's default handling follows.
  virtual void OnShowWindow(bool /*show*/, UINT /*status*/) {}
  // Sees every message first, before the handlers above. True with result set when
  // the message is fully handled; false lets dispatch (and default handling) go on.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void CenterOnScreen() noexcept;

  int templateId_;
  HWND hwnd_ = nullptr;
  bool inModalRun_ = false;
  bool modalEnded_ = false;
  INT_PTR modalResult_ = 0;
};

// The module that holds the program's templates, icon and texts.
HINSTANCE ResourceModule() noexcept;

// The window rectangle of a child window in its parent's client coordinates
// (empty when window is null).
RECT WindowRectInParent(HWND window) noexcept;
// The text of a window or control (empty when window is null).
std::string WindowTextOf(HWND window);
// Moves a child window to a rectangle of its parent's client coordinates, repainting it.
void MoveWindowTo(HWND window, const RECT& rect, bool repaint = true) noexcept;

}  // namespace glimmora
