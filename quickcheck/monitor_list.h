#pragma once
// The rules of the Quick Check monitor list, over any list of rows of ten texts:
// which rows of a scan are shown, the item values, and sorting by a column.
// The window program implements MonitorListView over its list-view control;
// the command line and the tests use MemoryMonitorList.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/monitor_table.h"
#include "resources/texts.h"

namespace glimmora {

// Monitor ID, then the nine cells of a MonitorTable row in their order.
inline constexpr std::size_t kMonitorListColumnCount = 10;
using MonitorListRow = std::array<std::string, kMonitorListColumnCount>;

struct MonitorListColumn {
  TextId header;
  int width;  // pixels
};
// The columns in list order; the header ids are not in numeric order.
inline constexpr MonitorListColumn kMonitorListColumns[kMonitorListColumnCount] = {
    {kTextColumnMonitorId, 100},    {kTextColumnClass, 50},        {kTextColumnDescription, 100},
    {kTextColumnMfg, 100},          {kTextColumnHardwareId, 100},  {kTextColumnModel, 100},
    {kTextColumnSerialNumber, 100}, {kTextColumnMonitorSize, 100}, {kTextColumnMfgDate, 50},
    {kTextColumnEdidVersion, 100},
};

// The list itself: rows of ten texts, each with an integer item value.
class MonitorListView {
 public:
  using ItemComparison = std::function<int(std::intptr_t, std::intptr_t)>;

  virtual ~MonitorListView() = default;
  virtual std::size_t ItemCount() const = 0;
  virtual std::string ItemText(std::size_t item, std::size_t column) const = 0;
  // Appends a row with item value 0.
  virtual void AppendItem(const MonitorListRow& row) = 0;
  virtual void SetItemValue(std::size_t item, std::intptr_t value) = 0;
  virtual void DeleteAllItems() = 0;
  // Reorders the items by comparing their item values, as LVM_SORTITEMS does;
  // column is the column the comparison reads, passed on as the sort parameter.
  virtual void SortItems(std::size_t column, const ItemComparison& compare) = 0;
};

// The list as plain data.
class MemoryMonitorList : public MonitorListView {
 public:
  std::size_t ItemCount() const override { return rows_.size(); }
  std::string ItemText(std::size_t item, std::size_t column) const override;
  void AppendItem(const MonitorListRow& row) override;
  void SetItemValue(std::size_t item, std::intptr_t value) override;
  void DeleteAllItems() override { rows_.clear(); }
  void SortItems(std::size_t column, const ItemComparison& compare) override;

  const MonitorListRow& Row(std::size_t item) const { return rows_[item].texts; }
  std::intptr_t ItemValue(std::size_t item) const { return rows_[item].value; }

 private:
  struct Item {
    MonitorListRow texts;
    std::intptr_t value = 0;
  };
  std::vector<Item> rows_;
};

// The column the list is sorted by and the direction: one for the whole run of
// the program, column 0 ascending at start-up.
struct MonitorSortState {
  std::size_t column = 0;
  bool ascending = true;
};

// Begins and ends the wait cursor around long work.
class WaitCursor {
 public:
  virtual ~WaitCursor() = default;
  virtual void Begin() = 0;
  virtual void End() = 0;  // restores the cursor from before
};

// Negative, zero or positive: the texts of the rows at the positions named by the
// two item values, compared without regard to case, negated when descending.
// `columnTexts` holds the sort column's text of every row by position; a value
// outside it reads as an empty text.
int CompareMonitorRows(const std::vector<std::string>& columnTexts, std::intptr_t first,
                       std::intptr_t second, bool ascending);

// Sorts the list by the column in the direction, then numbers the items by
// their new positions.
void SortMonitorList(MonitorListView& list, std::size_t column, bool ascending);

// The list's part in a check: the rows it shows, and their order.
class MonitorList {
 public:
  MonitorList(MonitorListView& view, MonitorSortState& sortState)
      : view_(view), sortState_(sortState) {}

  void Clear() { view_.DeleteAllItems(); }
  // Shows the rows a check reported (the row rules have been applied), then
  // numbers and sorts them; true when the list holds any.
  bool ShowCheck(const std::vector<ReportedMonitor>& monitors);
  // A click on a column header: the same column again reverses the order, another
  // column is sorted in the direction used last.
  void OnColumnClick(std::size_t column, WaitCursor& waitCursor);

  const MonitorSortState& sortState() const { return sortState_; }

 private:
  MonitorListView& view_;
  MonitorSortState& sortState_;
};

}  // namespace glimmora
