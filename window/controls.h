#pragma once
// Thin owners-by-reference of the common controls the pages use: a control is
// attached to its window (made by the dialog template) and reached through it.

#include <windows.h>

#include <string>

namespace glimmora {

class CControl {
 public:
  void Attach(HWND hwnd) noexcept { hwnd_ = hwnd; }
  HWND GetSafeHwnd() const noexcept { return hwnd_; }
  // False when there is no window or it was disabled before.
  bool EnableWindow(bool enable) const noexcept;

 protected:
  HWND hwnd_ = nullptr;
};

// The tab strip (SysTabControl32).
class CTabCtrl : public CControl {
 public:
  // The selected tab, -1 when none is selected.
  int GetCurSel() const noexcept;
  // Inserts a tab with text only; its index, or -1 on failure.
  int InsertItem(int index, const std::string& text) const noexcept;
};

// The list view (SysListView32). The list's own operations belong to the page that uses it.
class CListCtrl : public CControl {};

}  // namespace glimmora
