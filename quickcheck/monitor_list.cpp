#include "quickcheck/monitor_list.h"

#include <algorithm>

#include "common/ansi_text.h"

namespace glimmora {

std::string MemoryMonitorList::ItemText(std::size_t item, std::size_t column) const {
  if (item >= rows_.size() || column >= kMonitorListColumnCount) return {};
  return rows_[item].texts[column];
}

void MemoryMonitorList::AppendItem(const MonitorListRow& row) {
  rows_.push_back(Item{row, 0});
}

void MemoryMonitorList::SetItemValue(std::size_t item, std::intptr_t value) {
  if (item < rows_.size()) rows_[item].value = value;
}

void MemoryMonitorList::SortItems(std::size_t /*column*/, const ItemComparison& compare) {
  std::stable_sort(rows_.begin(), rows_.end(), [&compare](const Item& a, const Item& b) {
    return compare(a.value, b.value) < 0;
  });
}

int CompareMonitorRows(const std::vector<std::string>& columnTexts, std::intptr_t first,
                       std::intptr_t second, bool ascending) {
  auto text = [&columnTexts](std::intptr_t value) -> std::string_view {
    if (value < 0 || static_cast<std::size_t>(value) >= columnTexts.size()) return {};
    return columnTexts[static_cast<std::size_t>(value)];
  };
  const int result = CompareNoCase(text(first), text(second));
  return ascending ? result : -result;
}

namespace {
void NumberItems(MonitorListView& list) {
  const std::size_t count = list.ItemCount();
  for (std::size_t item = 0; item < count; ++item)
    list.SetItemValue(item, static_cast<std::intptr_t>(item));
}
}  // namespace

void SortMonitorList(MonitorListView& list, std::size_t column, bool ascending) {
  // The comparison names rows by item value, which is each row's position
  // before the sort. The texts are taken before anything moves, so the result
  // does not depend on how the list reorders its items while sorting.
  const std::size_t count = list.ItemCount();
  std::vector<std::string> columnTexts;
  columnTexts.reserve(count);
  for (std::size_t item = 0; item < count; ++item)
    columnTexts.push_back(list.ItemText(item, column));
  list.SortItems(column, [&columnTexts, ascending](std::intptr_t first, std::intptr_t second) {
    return CompareMonitorRows(columnTexts, first, second, ascending);
  });
  NumberItems(list);
}

bool MonitorList::ShowCheck(const std::vector<ReportedMonitor>& monitors) {
  for (const ReportedMonitor& monitor : monitors) {
    MonitorListRow texts;
    texts[0] = monitor.monitorId;
    std::copy(monitor.row.begin(), monitor.row.end(), texts.begin() + 1);
    view_.AppendItem(texts);
  }
  if (view_.ItemCount() == 0) return false;
  NumberItems(view_);
  SortMonitorList(view_, sortState_.column, sortState_.ascending);
  return true;
}

void MonitorList::OnColumnClick(std::size_t column, WaitCursor& waitCursor) {
  if (column >= kMonitorListColumnCount) return;
  waitCursor.Begin();
  if (column == sortState_.column) sortState_.ascending = !sortState_.ascending;
  SortMonitorList(view_, column, sortState_.ascending);
  waitCursor.End();
  sortState_.column = column;
}

}  // namespace glimmora
