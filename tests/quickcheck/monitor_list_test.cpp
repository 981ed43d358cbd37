// How the monitor list shows the rows of a check, and how it orders them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "common/ansi_text.h"
#include "quickcheck/monitor_list.h"

namespace glimmora {
namespace {

MonitorRow Row(std::string model, std::string serial, std::string description = "Monitor D") {
  return {"Monitor",         std::move(description),     "Maker",  "MONITOR\\X", std::move(model),
          std::move(serial), "W:52cm x H:32cm (24.0\")", "2008/5", "1.3"};
}

class CountingCursor : public WaitCursor {
 public:
  void Begin() override { ++begins; }
  void End() override { ++ends; }
  int begins = 0;
  int ends = 0;
};

class MonitorListTest : public ::testing::Test {
 protected:
  std::vector<std::string> Column(std::size_t column) const {
    std::vector<std::string> texts;
    for (std::size_t item = 0; item < view_.ItemCount(); ++item)
      texts.push_back(view_.ItemText(item, column));
    return texts;
  }
  void ExpectValuesArePositions() const {
    for (std::size_t item = 0; item < view_.ItemCount(); ++item)
      EXPECT_EQ(view_.ItemValue(item), static_cast<std::intptr_t>(item));
  }

  // The rows of one check, by the row rules, then shown as a check shows them.
  bool Admit(const std::string& monitorId, const MonitorRow& row) {
    return reported_.Admit(monitorId, row);
  }
  bool Finish() {
    const bool listed = list_.ShowCheck(reported_.rows());
    reported_ = ReportedMonitors();
    return listed;
  }

  MemoryMonitorList view_;
  MonitorSortState sort_;
  MonitorList list_{view_, sort_};
  ReportedMonitors reported_;
  CountingCursor cursor_;
};

TEST_F(MonitorListTest, ACheckIsShownSortedAndNumbered) {
  Admit("B", Row("M1", "S"));
  Admit("A", Row("M2", "S"));
  Admit("C", Row("M3", "S"));
  EXPECT_TRUE(Finish());
  EXPECT_EQ(Column(0), (std::vector<std::string>{"A", "B", "C"}));  // column 0 ascending
  ExpectValuesArePositions();
}

TEST_F(MonitorListTest, EmptyListFinishesWithoutRowsAndKeepsTheSortState) {
  sort_ = {4, false};
  Admit("DEV", Row("<UNKNOWN>", "<UNKNOWN>"));
  EXPECT_FALSE(Finish());
  EXPECT_EQ(sort_.column, 4u);
  EXPECT_FALSE(sort_.ascending);
  // A click on an empty list changes the state all the same.
  list_.OnColumnClick(4, cursor_);
  EXPECT_TRUE(sort_.ascending);
  list_.OnColumnClick(7, cursor_);
  EXPECT_EQ(sort_.column, 7u);
  EXPECT_TRUE(sort_.ascending);
}

// Every column sorts as text without regard to case, both ways.
TEST_F(MonitorListTest, SortsByEveryColumnBothWays) {
  const std::vector<std::string> values = {"b", "A", "c10", "C9", "a"};
  for (std::size_t i = 0; i < values.size(); ++i) {
    MonitorListRow texts;
    // Each column holds the values in a different rotation, so no column's order
    // follows from another's.
    for (std::size_t column = 0; column < kMonitorListColumnCount; ++column)
      texts[column] = values[(i + column) % values.size()] + "#" + std::to_string(i);
    MonitorRow row;
    std::copy(texts.begin() + 1, texts.end(), row.begin());
    ASSERT_TRUE(Admit(texts[0], row));
  }
  ASSERT_TRUE(Finish());  // numbers the rows, which sorting relies on
  const std::vector<std::string> ascending = {"A", "a", "b", "c10", "C9"};
  for (std::size_t column = 0; column < kMonitorListColumnCount; ++column) {
    for (bool up : {true, false}) {
      SortMonitorList(view_, column, up);
      std::vector<std::string> seen;
      for (const std::string& text : Column(column)) seen.push_back(text.substr(0, text.find('#')));
      std::vector<std::string> expected = ascending;
      if (!up) std::reverse(expected.begin(), expected.end());
      // "A" and "a" compare equal; their order is not fixed.
      for (std::size_t k = 0; k < seen.size(); ++k)
        EXPECT_TRUE(EqualNoCase(seen[k], expected[k])) << column << " " << up << " " << k;
      ExpectValuesArePositions();
    }
  }
}

TEST_F(MonitorListTest, MfgDateSortsAsText) {
  for (const char* date : {"2008/3", "2008/10", "2007/12"}) {
    MonitorRow row = Row(std::string("M") + date, "S");
    row[kColumnMfgDate] = date;
    Admit("DEV", row);
  }
  Finish();
  SortMonitorList(view_, 8, true);
  EXPECT_EQ(Column(8), (std::vector<std::string>{"2007/12", "2008/10", "2008/3"}));
}

TEST_F(MonitorListTest, HeaderClicksChooseColumnAndDirection) {
  Admit("D1", Row("Beta", "S1", "Class"));
  Admit("D2", Row("alpha", "S2"));
  Admit("D3", Row("Gamma", "S3"));
  Finish();

  list_.OnColumnClick(5, cursor_);  // another column: the direction used last (ascending)
  EXPECT_EQ(Column(5), (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
  list_.OnColumnClick(5, cursor_);  // the same column again: reversed
  EXPECT_EQ(Column(5), (std::vector<std::string>{"Gamma", "Beta", "alpha"}));
  EXPECT_EQ(sort_.column, 5u);
  EXPECT_FALSE(sort_.ascending);
  ExpectValuesArePositions();

  list_.OnColumnClick(0, cursor_);  // another column keeps descending
  EXPECT_EQ(Column(0), (std::vector<std::string>{"D3", "D2", "D1"}));
  EXPECT_EQ(cursor_.begins, 3);
  EXPECT_EQ(cursor_.ends, 3);

  // The next check comes out in the order chosen last.
  list_.Clear();
  Admit("A", Row("x", "1"));
  Admit("C", Row("y", "2"));
  Admit("B", Row("z", "3"));
  Finish();
  EXPECT_EQ(Column(0), (std::vector<std::string>{"C", "B", "A"}));
}

// A list whose sort moves its items while it compares them, as a list-view
// control may: texts read by position during the sort come from whichever item
// happens to be there. (An in-place merge: the first item of the right run is
// moved in front of the left run whenever it is the smaller.)
class MovingMonitorList : public MonitorListView {
 public:
  std::size_t ItemCount() const override { return items_.size(); }
  std::string ItemText(std::size_t item, std::size_t column) const override {
    return items_[item].texts[column];
  }
  void AppendItem(const MonitorListRow& row) override { items_.push_back({row, 0}); }
  void SetItemValue(std::size_t item, std::intptr_t value) override { items_[item].value = value; }
  void DeleteAllItems() override { items_.clear(); }
  void SortItems(std::size_t /*column*/, const ItemComparison& compare) override {
    if (!items_.empty()) MergeSort(0, items_.size() - 1, compare);
  }
  std::intptr_t ItemValue(std::size_t item) const { return items_[item].value; }

 private:
  void MergeSort(std::size_t l, std::size_t r, const ItemComparison& compare) {
    if (l >= r) return;
    std::size_t m = (l + r) / 2;
    MergeSort(l, m, compare);
    MergeSort(m + 1, r, compare);
    for (; l <= m && m < r; ++l) {
      if (compare(items_[l].value, items_[m + 1].value) > 0) {
        std::rotate(items_.begin() + l, items_.begin() + m + 1, items_.begin() + m + 2);
        ++m;
      }
    }
  }

  struct Item {
    MonitorListRow texts;
    std::intptr_t value;
  };
  std::vector<Item> items_;
};

TEST(MonitorListSorting, TextsComeFromBeforeTheSortWhateverTheListDoesMeanwhile) {
  MovingMonitorList view;
  std::uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  const std::size_t kRows = 300;
  for (std::size_t item = 0; item < kRows; ++item) {
    MonitorListRow row;
    for (std::string& text : row) {
      for (std::uint32_t length = 1 + (next() >> 16) % 6; length > 0; --length)
        text += static_cast<char>('a' + (next() >> 16) % 26);
    }
    view.AppendItem(row);
    view.SetItemValue(item, static_cast<std::intptr_t>(item));
  }
  for (std::size_t column : {std::size_t{0}, std::size_t{4}, std::size_t{9}}) {
    for (bool ascending : {true, false}) {
      SortMonitorList(view, column, ascending);
      for (std::size_t item = 1; item < kRows; ++item) {
        const int order =
            CompareNoCase(view.ItemText(item - 1, column), view.ItemText(item, column));
        EXPECT_TRUE(ascending ? order <= 0 : order >= 0) << column << " " << item;
        EXPECT_EQ(view.ItemValue(item), static_cast<std::intptr_t>(item));
      }
    }
  }

  // What the sort guards against: the same list sorted by a comparison that
  // reads the texts while the list sorts comes out wrong.
  view.SortItems(4, [&view](std::intptr_t first, std::intptr_t second) {
    return CompareNoCase(view.ItemText(static_cast<std::size_t>(first), 2),
                         view.ItemText(static_cast<std::size_t>(second), 2));
  });
  bool ordered = true;
  for (std::size_t item = 1; item < kRows; ++item)
    ordered = ordered && CompareNoCase(view.ItemText(item - 1, 2), view.ItemText(item, 2)) <= 0;
  EXPECT_FALSE(ordered);
}

}  // namespace
}  // namespace glimmora
