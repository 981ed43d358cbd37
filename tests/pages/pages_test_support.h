#pragma once
// Shared by the page tests: the main window made from its real templates, with
// message boxes recorded, and readers of the controls the pages fill.

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "app/glimmora_app.h"
#include "app/main_dialog.h"
#include "tests/app/app_test_support.h"

namespace glimmora::testing {

// The texts of every row of a list-view control, as LVM_GETITEMTEXT gives them.
std::vector<std::vector<std::string>> ListRows(HWND list);
// One column of every row.
std::vector<std::string> ListColumn(HWND list, int column);
// The item value (LPARAM) of every row.
std::vector<LPARAM> ListItemValues(HWND list);

// ASCII letters compared without regard to case, byte by byte: the order the
// tests expect of the list's texts, written apart from the program's comparison.
int CompareAsciiNoCase(const std::string& a, const std::string& b);
// Whether the texts are in that order (ascending or descending), ties allowed.
bool IsOrdered(const std::vector<std::string>& texts, bool ascending);

// A horizontal or vertical distance of the dialog's template in its pixels, as
// the dialog manager converts each position and size of a control.
int DialogUnitsX(HWND dialog, int units);
int DialogUnitsY(HWND dialog, int units);

// The window's text.
std::string TextOf(HWND window);

// A click with the mouse (button down and up) at the centre of a window's
// client-area rectangle, delivered to the window directly.
void ClickAt(HWND window, const RECT& rect);

// Records the windows this thread gives the focus to (SetFocus), whether or not
// its window is active then: another test's window, made at the same moment on
// the same desktop, can take the activation and with it the focus away.
class FocusRequests {
 public:
  FocusRequests();
  ~FocusRequests();
  FocusRequests(const FocusRequests&) = delete;
  FocusRequests& operator=(const FocusRequests&) = delete;

  // Whether the window was given the focus since the last Forget. (Activation
  // passing between test processes can move the focus on again afterwards.)
  bool Requested(HWND window) const;
  void Forget() { requested_.clear(); }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam);
  HHOOK hook_ = nullptr;
  std::vector<HWND> requested_;
};

// The main window, made modeless for a test with the common controls ready.
class MainWindowFixture {
 public:
  MainWindowFixture();
  ~MainWindowFixture();
  MainWindowFixture(const MainWindowFixture&) = delete;
  MainWindowFixture& operator=(const MainWindowFixture&) = delete;

  bool created() const { return created_; }

  CGlimmoraDlg dlg;

 private:
  bool created_ = false;
};

}  // namespace glimmora::testing
