#include "inventory/monitor_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

MonitorRow Row(std::string model, std::string serial, std::string description = "Monitor D") {
  return {"Monitor",         std::move(description),     "Maker",  "MONITOR\\X", std::move(model),
          std::move(serial), "W:52cm x H:32cm (24.0\")", "2008/5", "1.3"};
}

std::vector<std::string> MonitorIds(const ReportedMonitors& reported) {
  std::vector<std::string> ids;
  for (const ReportedMonitor& monitor : reported.rows()) ids.push_back(monitor.monitorId);
  return ids;
}

TEST(ReportedMonitors, RowsWithoutModelAndSerialAreLeftOut) {
  ReportedMonitors reported;
  EXPECT_FALSE(reported.Admit("DEV", Row("<UNKNOWN>", "<UNKNOWN>")));
  EXPECT_FALSE(reported.Admit("DEV", Row("<unknown>", "<Unknown>")));  // a descriptor saying so
  EXPECT_TRUE(reported.Admit("DEV", Row("<UNKNOWN>", "SN1")));
  EXPECT_TRUE(reported.Admit("DEV", Row("MODEL", "<UNKNOWN>")));
  EXPECT_EQ(reported.rows().size(), 2u);
}

// A duplicate left out still says the monitor is there: present beats
// unknown beats ghost, and the kept row keeps its own texts.
TEST(ReportedMonitors, ALeftOutDuplicateCarriesItsPresence) {
  const auto with = [](Presence presence) {
    MonitorDetails details;
    details.presence = presence;
    return details;
  };
  ReportedMonitors reported;
  EXPECT_TRUE(reported.Admit("DEV", Row("Dell", "SN1"), with(Presence::kGhost)));
  EXPECT_FALSE(reported.Admit("DEV", Row("DELL", "SN1"), with(Presence::kUnknown)));
  EXPECT_EQ(reported.rows()[0].details.presence, Presence::kUnknown);
  EXPECT_FALSE(reported.Admit("DEV", Row("dell", "sn1"), with(Presence::kPresent)));
  EXPECT_FALSE(reported.Admit("DEV", Row("Dell", "SN1"), with(Presence::kGhost)));
  EXPECT_EQ(reported.rows()[0].details.presence, Presence::kPresent);
  EXPECT_EQ(reported.rows()[0].row[kColumnModel], "Dell");
  ASSERT_EQ(reported.rows().size(), 1u);
}

// Equal means the monitor ID and all nine cells, letter case aside; the first
// of equal rows is the one kept, with its own letters.
TEST(ReportedMonitors, EqualRowsLetterCaseAsideAreReportedOnce) {
  ReportedMonitors reported;
  EXPECT_TRUE(reported.Admit("DEV", Row("Dell U2412M", "SN1")));
  EXPECT_FALSE(reported.Admit("dev", Row("DELL u2412m", "sn1")));  // same as the last one
  EXPECT_TRUE(reported.Admit("DEV", Row("Other", "SN2")));
  EXPECT_FALSE(reported.Admit("DEV", Row("dell U2412M", "SN1")));  // same as an earlier one
  EXPECT_TRUE(reported.Admit("DEV2", Row("Dell U2412M", "SN1")));  // another device identifier
  EXPECT_EQ(MonitorIds(reported), (std::vector<std::string>{"DEV", "DEV", "DEV2"}));
  EXPECT_EQ(reported.rows()[0].row[kColumnModel], "Dell U2412M");
  for (std::size_t column = 0; column < SampleRow().size(); ++column) {
    SCOPED_TRACE(column);
    MonitorRow other = SampleRow();
    other[column] += "x";
    ReportedMonitors pair;
    EXPECT_TRUE(pair.Admit("DEL4064", SampleRow()));
    EXPECT_TRUE(pair.Admit("DEL4064", other));  // any cell that differs keeps both
  }
  ReportedMonitors unknownMfg;
  MonitorRow empty = SampleRow();
  empty[kColumnMfg] = "";
  MonitorRow unknown = empty;
  unknown[kColumnMfg] = "<UNKNOWN>";
  EXPECT_TRUE(unknownMfg.Admit("X", empty));
  EXPECT_FALSE(unknownMfg.Admit("X", empty));
  EXPECT_TRUE(unknownMfg.Admit("X", unknown));
}

// Letter case is folded for ASCII letters only; multibyte characters must be
// the same bytes. Texts never run into one another, neither across a comma
// inside a field nor across the boundary of two cells.
TEST(ReportedMonitors, DuplicateTestFollowsTheCaseInsensitiveComparison) {
  ReportedMonitors reported;
  EXPECT_TRUE(reported.Admit("DEV", Row("\xc3\xa9"
                                        "cran",
                                        "S")));  // "écran"
  EXPECT_TRUE(reported.Admit("DEV", Row("\xc3\x89"
                                        "CRAN",
                                        "S")));  // "ÉCRAN": another letter
  EXPECT_FALSE(reported.Admit("DEV", Row("\xc3\xa9"
                                         "CRAN",
                                         "s")));  // folds to the first
  EXPECT_TRUE(reported.Admit("DEV", Row("A1", "S")));
  EXPECT_TRUE(reported.Admit("DEV", Row("A", "1S")));
  MonitorRow first = Row("M", "S", "a,b");
  first[kColumnMfg] = "c";
  MonitorRow second = Row("M", "S", "a");
  second[kColumnMfg] = "b,c";
  EXPECT_TRUE(reported.Admit("DEV", first));
  EXPECT_TRUE(reported.Admit("DEV", second));
}

TEST(ReportedMonitors, ThousandsOfRowsAreAdmittedQuickly) {
  ReportedMonitors reported;
  for (int i = 0; i < 20000; ++i) reported.Admit("DEV", Row("M", "SN" + std::to_string(i)));
  for (int i = 0; i < 20000; i += 7) reported.Admit("DEV", Row("m", "sn" + std::to_string(i)));
  EXPECT_EQ(reported.Take().size(), 20000u);
}

}  // namespace
}  // namespace glimmora
