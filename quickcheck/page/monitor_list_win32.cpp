#include "quickcheck/page/monitor_list_win32.h"

#include <commctrl.h>

#include "resources/texts.h"

namespace glimmora {

namespace {

constexpr DWORD kListStyleAdded = LVS_REPORT | LVS_SINGLESEL | LVS_AUTOARRANGE;
constexpr DWORD kListExtendedStyle = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT;

// The application object's reference to the Quick Check list (null: none yet).
CMonitorListCtrl* const* sortedListReference = nullptr;

// LVM_SORTITEMS's comparison: it is handed two item values and the column only,
// so it reaches the list through the application object's reference.
int CALLBACK CompareQuickListItems(LPARAM first, LPARAM second, LPARAM /*column*/) {
  const CMonitorListCtrl* list = sortedListReference != nullptr ? *sortedListReference : nullptr;
  return list != nullptr ? list->CompareWhileSorting(first, second) : 0;
}

}  // namespace

void SetSortedListReference(CMonitorListCtrl* const* reference) noexcept {
  sortedListReference = reference;
}

void CMonitorListCtrl::SetUp() const {
  if (hwnd_ == nullptr) return;
  SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
  for (std::size_t index = 0; index < kMonitorListColumnCount; ++index) {
    std::string header = LoadText(kMonitorListColumns[index].header);
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = kMonitorListColumns[index].width;
    column.pszText = header.data();
    column.iSubItem = static_cast<int>(index);
    SendMessageA(hwnd_, LVM_INSERTCOLUMNA, index, reinterpret_cast<LPARAM>(&column));
  }
  const LONG_PTR style = GetWindowLongPtrA(hwnd_, GWL_STYLE);
  SetWindowLongPtrA(hwnd_, GWL_STYLE, (style & ~LONG_PTR{LVS_TYPEMASK}) | kListStyleAdded);
  // A mask of 0 sets every extended style: all others are cleared.
  SendMessageA(hwnd_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, kListExtendedStyle);
}

std::size_t CMonitorListCtrl::ItemCount() const {
  if (hwnd_ == nullptr) return 0;
  const LRESULT count = SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0);
  return count > 0 ? static_cast<std::size_t>(count) : 0;
}

std::string CMonitorListCtrl::ItemText(std::size_t item, std::size_t column) const {
  if (hwnd_ == nullptr) return {};
  // The control copies at most the buffer less its terminating zero; a text
  // that fills the buffer may have been cut, so the buffer grows until it does not.
  std::string text(256, '\0');
  for (;;) {
    LVITEMA request{};
    request.iSubItem = static_cast<int>(column);
    request.pszText = text.data();
    request.cchTextMax = static_cast<int>(text.size());
    const LRESULT length =
        SendMessageA(hwnd_, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&request));
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) + 1 < text.size()) {
      text.resize(static_cast<std::size_t>(length));
      return text;
    }
    text.assign(text.size() * 2, '\0');
  }
}

void CMonitorListCtrl::AppendItem(const MonitorListRow& row) {
  if (hwnd_ == nullptr) return;
  std::string deviceId = row[0];
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
  item.iItem = static_cast<int>(ItemCount());
  item.pszText = deviceId.data();
  item.lParam = 0;
  item.state = 0;
  item.stateMask = 0;
  const LRESULT position = SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  if (position < 0) return;
  for (std::size_t column = 1; column < kMonitorListColumnCount; ++column) {
    std::string text = row[column];
    LVITEMA cell{};
    cell.iSubItem = static_cast<int>(column);
    cell.pszText = text.data();
    SendMessageA(hwnd_, LVM_SETITEMTEXTA, static_cast<WPARAM>(position),
                 reinterpret_cast<LPARAM>(&cell));
  }
}

void CMonitorListCtrl::SetItemValue(std::size_t item, std::intptr_t value) {
  if (hwnd_ == nullptr) return;
  LVITEMA update{};
  update.mask = LVIF_PARAM;
  update.iItem = static_cast<int>(item);
  update.lParam = value;
  SendMessageA(hwnd_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update));
}

std::intptr_t CMonitorListCtrl::ItemValue(std::size_t item) const {
  if (hwnd_ == nullptr) return -1;
  LVITEMA request{};
  request.mask = LVIF_PARAM;
  request.iItem = static_cast<int>(item);
  if (!SendMessageA(hwnd_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request))) return -1;
  return request.lParam;
}

void CMonitorListCtrl::DeleteAllItems() {
  if (hwnd_ != nullptr) SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
}

void CMonitorListCtrl::SortItems(std::size_t column, const ItemComparison& compare) {
  if (hwnd_ == nullptr) return;
  sortComparison_ = &compare;
  SendMessageA(hwnd_, LVM_SORTITEMS, column, reinterpret_cast<LPARAM>(&CompareQuickListItems));
  sortComparison_ = nullptr;
}

int CMonitorListCtrl::CompareWhileSorting(std::intptr_t first, std::intptr_t second) const {
  return sortComparison_ != nullptr ? (*sortComparison_)(first, second) : 0;
}

}  // namespace glimmora
