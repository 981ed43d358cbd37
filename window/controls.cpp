#include "window/controls.h"

#include <commctrl.h>

namespace glimmora {

bool CControl::EnableWindow(bool enable) const noexcept {
  return hwnd_ != nullptr && ::EnableWindow(hwnd_, enable ? TRUE : FALSE) == FALSE;
}

int CTabCtrl::GetCurSel() const noexcept {
  if (hwnd_ == nullptr) return -1;
  return static_cast<int>(SendMessageA(hwnd_, TCM_GETCURSEL, 0, 0));
}

int CTabCtrl::InsertItem(int index, const std::string& text) const noexcept {
  if (hwnd_ == nullptr) return -1;
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<char*>(text.c_str());
  return static_cast<int>(SendMessageA(hwnd_, TCM_INSERTITEMA, static_cast<WPARAM>(index),
                                       reinterpret_cast<LPARAM>(&item)));
}

}  // namespace glimmora
