#pragma once
// The monitor list on the Quick Check page's list-view control: ten report
// columns, rows of ten texts with an item value each, sorted by LVM_SORTITEMS.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "quickcheck/monitor_list.h"
#include "window/controls.h"

namespace glimmora {

class CMonitorListCtrl : public CListCtrl, public MonitorListView {
 public:
  // Once, when the page initialises: no items, the ten columns with their
  // headers and widths, report view with single selection, grid lines and
  // full-row selection.
  void SetUp() const;

  std::size_t ItemCount() const override;
  std::string ItemText(std::size_t item, std::size_t column) const override;
  void AppendItem(const MonitorListRow& row) override;
  void SetItemValue(std::size_t item, std::intptr_t value) override;
  void DeleteAllItems() override;
  void SortItems(std::size_t column, const ItemComparison& compare) override;

  // The item value of the item at a position (LVM_GETITEM), -1 when there is none.
  std::intptr_t ItemValue(std::size_t item) const;

  // The comparison of the sort in progress, for LVM_SORTITEMS's callback, which
  // reaches this list through the application object; 0 when no sort runs.
  int CompareWhileSorting(std::intptr_t first, std::intptr_t second) const;

 private:
  const ItemComparison* sortComparison_ = nullptr;
};

// Where LVM_SORTITEMS's callback finds the list being sorted: the application
// object's reference to the Quick Check list, handed over by the page.
void SetSortedListReference(CMonitorListCtrl* const* reference) noexcept;

}  // namespace glimmora
