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

// The window's text.
std::string TextOf(HWND window);

// A click with the mouse (button down and up) at the centre of a window's
// client-area rectangle, delivered to the window directly.
void ClickAt(HWND window, const RECT& rect);

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
