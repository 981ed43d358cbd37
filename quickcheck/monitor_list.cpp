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
// Equal for two rows exactly when all their texts are equal under
// EqualNoCase: the fold changes only single-byte ASCII letters, which never
// begin or continue a multibyte character, so a text and its fold split into
// the same characters. Each text is preceded by its length, so that no text
// can run into the next.
std::string FoldedRowKey(const MonitorListRow& texts) {
  std::string key;
  for (const std::string& text : texts) {
    key += std::to_string(text.size());
    key += ':';
    key += ToUpperAnsi(text);
  }
  return key;
}

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

bool MonitorList::AdmitRow(const std::string& deviceId, const MonitorRow& row) {
  if (!IsReportableRow(row)) return false;
  MonitorListRow texts;
  texts[0] = deviceId;
  std::copy(row.begin(), row.end(), texts.begin() + 1);

  // Ten fields compared one by one: joining them by commas would make rows equal
  // that differ only in where a comma inside a field falls.
  auto sameTexts = [](const MonitorListRow& a, const MonitorListRow& b) {
    for (std::size_t column = 0; column < kMonitorListColumnCount; ++column) {
      if (!EqualNoCase(a[column], b[column])) return false;
    }
    return true;
  };
  if (lastAdded_ && sameTexts(*lastAdded_, texts)) return false;
  // Rows that reached the view some other way are taken in before the test.
  const std::size_t count = view_.ItemCount();
  if (admittedKeys_.size() != count) {
    admittedKeys_.clear();
    for (std::size_t item = 0; item < count; ++item) {
      MonitorListRow listed;
      for (std::size_t column = 0; column < kMonitorListColumnCount; ++column)
        listed[column] = view_.ItemText(item, column);
      admittedKeys_.insert(FoldedRowKey(listed));
    }
  }
  if (!admittedKeys_.insert(FoldedRowKey(texts)).second) return false;
  view_.AppendItem(texts);
  lastAdded_ = std::move(texts);
  return true;
}

bool MonitorList::FinishCheck() {
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
