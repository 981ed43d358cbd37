#include "inventory/monitor_table.h"

#include <gtest/gtest.h>

namespace glimmora {
namespace {

MonitorRow SampleRow() {
  return {"Monitor",     "Generic PnP Monitor", "(Standard monitor types)", "MONITOR\\DEL4064",
          "DELL U2412M", "0FFXD28S1HUL",        "W:52cm x H:32cm (24.0\")", "2012/9",
          "1.3"};
}

void Append(MonitorTable& table, const MonitorRow& row) {
  table.deviceClass.push_back(row[kColumnClass]);
  table.description.push_back(row[kColumnDescription]);
  table.mfg.push_back(row[kColumnMfg]);
  table.hardwareId.push_back(row[kColumnHardwareId]);
  table.model.push_back(row[kColumnModel]);
  table.serialNumber.push_back(row[kColumnSerialNumber]);
  table.monitorSize.push_back(row[kColumnMonitorSize]);
  table.mfgDate.push_back(row[kColumnMfgDate]);
  table.edidVersion.push_back(row[kColumnEdidVersion]);
}

TEST(MonitorTable, RowsComeBackInColumnOrderAndClearEmptiesAllColumns) {
  MonitorTable table;
  EXPECT_EQ(table.RowCount(), 0u);
  MonitorRow second = SampleRow();
  second[kColumnSerialNumber] = "OTHER";
  Append(table, SampleRow());
  Append(table, second);
  ASSERT_EQ(table.RowCount(), 2u);
  EXPECT_EQ(RowAt(table, 0), SampleRow());
  EXPECT_EQ(RowAt(table, 1), second);

  table.Clear();
  EXPECT_EQ(table.RowCount(), 0u);
  for (const auto* column :
       {&table.deviceClass, &table.description, &table.mfg, &table.hardwareId, &table.model,
        &table.serialNumber, &table.monitorSize, &table.mfgDate, &table.edidVersion})
    EXPECT_TRUE(column->empty());
}

TEST(ReportableRow, DroppedOnlyWhenModelAndSerialAreBothUnknown) {
  EXPECT_FALSE(IsReportableRow("<UNKNOWN>", "<UNKNOWN>"));
  EXPECT_TRUE(IsReportableRow("DELL U2412M", "<UNKNOWN>"));
  EXPECT_TRUE(IsReportableRow("<UNKNOWN>", "0FFXD28S1HUL"));
  // Empty is not the placeholder.
  EXPECT_TRUE(IsReportableRow("", "<UNKNOWN>"));
}

TEST(ReportableRow, PlaceholderInAnyLetterCase) {
  // A name descriptor can hold the placeholder's text itself.
  EXPECT_FALSE(IsReportableRow("<unknown>", "<UNKNOWN>"));
  EXPECT_FALSE(IsReportableRow("<Unknown>", "<uNKNOWn>"));
  EXPECT_TRUE(IsReportableRow("<UNKNOWN> ", "<UNKNOWN>"));
  EXPECT_TRUE(IsReportableRow("UNKNOWN", "<UNKNOWN>"));
}

TEST(ReportableRow, OtherCellsPlayNoPart) {
  MonitorRow row = SampleRow();
  for (auto& cell : row) cell = "<UNKNOWN>";
  row[kColumnModel] = "DELL U2412M";
  EXPECT_TRUE(IsReportableRow(row));
  row = SampleRow();
  row[kColumnModel] = "<unknown>";
  row[kColumnSerialNumber] = "<UNKNOWN>";
  row[kColumnDescription] = "";  // a value present but empty
  EXPECT_FALSE(IsReportableRow(row));
}

TEST(DuplicateRows, SameMonitorIdAndNineCellsIgnoringCase) {
  MonitorRow other = SampleRow();
  EXPECT_TRUE(AreDuplicateRows("DEL4064", SampleRow(), "DEL4064", other));
  for (auto& cell : other) {
    for (char& c : cell) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  EXPECT_TRUE(AreDuplicateRows("DEL4064", SampleRow(), "del4064", other));
}

TEST(DuplicateRows, AnyCellThatDiffersKeepsBothRows) {
  for (std::size_t column = 0; column < SampleRow().size(); ++column) {
    SCOPED_TRACE(column);
    MonitorRow other = SampleRow();
    other[column] += "x";
    EXPECT_FALSE(AreDuplicateRows("DEL4064", SampleRow(), "DEL4064", other));
  }
}

TEST(DuplicateRows, DifferentDeviceIdentifiersAreNotDuplicates) {
  EXPECT_FALSE(AreDuplicateRows("DEL4064", SampleRow(), "DEL4065", SampleRow()));
}

TEST(DuplicateRows, EmptyCellsCompareEqual) {
  MonitorRow row = SampleRow();
  row[kColumnMfg] = "";
  EXPECT_TRUE(AreDuplicateRows("X", row, "X", row));
  MonitorRow unknown = row;
  unknown[kColumnMfg] = "<UNKNOWN>";
  EXPECT_FALSE(AreDuplicateRows("X", row, "X", unknown));
}

}  // namespace
}  // namespace glimmora
