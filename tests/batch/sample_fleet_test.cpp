// The sample fleet of examples/ through the batch worker and the offline
// registry, against the result file reviewed line by line against the exports.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>

#include "batch/batch_worker.h"
#include "batch/csv_format.h"
#include "batch/json_format.h"
#include "inventory/ansi_conversion.h"
#include "inventory/offline/registry_offline.h"
#include "resources/texts.h"
#include "tests/batch/fleet_golden.h"
#include "tests/support/batch_files.h"
#include "tests/support/scoped_env.h"
#include "tests/support/time_zone.h"

namespace glimmora {
namespace {

using testing::ReadBytes;
using testing::SplitResultLines;
using testing::TempDir;

using glimmora::testing::kSourceDir;

TEST(SampleFleet, WritesTheReviewedInventory) {
  testing::ScopedTimeZone utc(testing::kZoneUtc);
  testing::EnglishMessages english;
#ifdef _WIN32
  if (LoadText(kTextColumnNote) != "Note") GTEST_SKIP() << "not an English user interface";
#endif
  TempDir dir;
  OfflineRegistry registry(kSourceDir + "/examples/fleet/");
  BatchState state;
  BatchServices services;
  services.registry = &registry;  // no probe: the exports stand for the network
  services.finishPause = std::chrono::milliseconds(0);

  RunBatch(state, services, kSourceDir + "/examples/workstations.txt", dir.File("inventory.csv"));

  EXPECT_EQ(state.failed, 0) << state.failureText;
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  const std::string written = testing::WithoutSourceDirectory(ReadBytes(dir.File("inventory.csv")));
  const std::string expected = testing::ExpectedFleetInventory();
  // Line by line first, for a readable difference.
  const std::vector<std::string> writtenLines = SplitResultLines(written);
  const std::vector<std::string> expectedLines = SplitResultLines(expected);
  for (std::size_t i = 0; i < writtenLines.size() && i < expectedLines.size(); ++i)
    EXPECT_EQ(writtenLines[i], expectedLines[i]) << "line " << i + 1;
  EXPECT_EQ(writtenLines.size(), expectedLines.size());
  EXPECT_EQ(written, expected);
}

// The fleet written in one format; the lines without the header.
std::vector<std::string> FleetLines(const ReportLayout& layout, const TempDir& dir) {
  OfflineRegistry registry(kSourceDir + "/examples/fleet/");
  BatchState state;
  BatchServices services;
  services.registry = &registry;
  services.finishPause = std::chrono::milliseconds(0);
  services.layout = layout;
  const MakerNames makers;
  services.layout.makers = &makers;
  RunBatch(state, services, kSourceDir + "/examples/workstations.txt", dir.File("out"));
  EXPECT_EQ(state.failed, 0) << state.failureText;
  const std::string bytes = ReadBytes(dir.File("out"));
  if (layout.format == ReportFormat::kCsv) {
    std::vector<std::string> lines = SplitResultLines(bytes);
    if (!lines.empty()) lines.erase(lines.begin());  // the header
    return lines;
  }
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = bytes.find('\n', start)) != std::string::npos;
       start = end + 1)
    lines.push_back(bytes.substr(start, end + 1 - start));
  return lines;
}

// Each format writes the monitors from the one record of each: the extended
// CSV and the JSON lines say the same of every monitor and workstation.
TEST(SampleFleet, TheExtendedColumnsAndJsonLinesTellTheSame) {
  testing::ScopedTimeZone utc(testing::kZoneUtc);
  testing::EnglishMessages english;
  TempDir dir;
  ReportLayout extended;
  extended.extendedColumns = true;
  ReportLayout json;
  json.format = ReportFormat::kJson;
  const std::vector<std::string> csv = FleetLines(extended, dir);
  const std::vector<std::string> objects = FleetLines(json, dir);
  ASSERT_EQ(csv.size(), objects.size());
  ASSERT_GT(csv.size(), 10u);
  const char* names[] = {"workstation",
                         "monitorId",
                         "class",
                         "description",
                         "mfg",
                         "hardwareId",
                         "model",
                         "serialNumber",
                         "monitorSize",
                         "mfgDate",
                         "edidVersion",
                         "maker",
                         "manufacturerCode",
                         "productCode",
                         "present",
                         "inventoryModel",
                         "inventorySerial",
                         "serialSource",
                         "placeholderSerial",
                         "idSerial",
                         "yearKind",
                         "edidChecksum",
                         "monitorKey"};
  const CsvResultFormat csvFormat(true);
  const JsonLinesResultFormat jsonFormat;
  for (std::size_t i = 0; i < csv.size(); ++i) {
    const std::vector<std::string> cells = testing::ParseCsvLine(csv[i]);
    const nlohmann::json object = nlohmann::json::parse(objects[i]);
    const std::optional<ResultLine> csvRead = csvFormat.Read(csv[i] + "\r\n");
    const std::optional<ResultLine> jsonRead = jsonFormat.Read(objects[i]);
    ASSERT_TRUE(csvRead && jsonRead) << csv[i];
    EXPECT_EQ(csvRead->result, jsonRead->result) << csv[i];
    EXPECT_EQ(cells[0], AnsiFromUtf8(object["workstation"].get<std::string>()));
    if (object.contains("reason")) {
      EXPECT_EQ(cells.back(), AnsiFromUtf8(object["message"].get<std::string>())) << csv[i];
      continue;
    }
    ASSERT_EQ(cells.size(), std::size(names)) << csv[i];
    for (std::size_t field = 1; field < cells.size(); ++field) {
      const nlohmann::json& value = object[names[field]];
      const std::string text = value.is_null()      ? std::string(kUnknown)
                               : value.is_boolean() ? (value.get<bool>() ? "yes" : "no")
                               : value.is_number()  ? std::to_string(value.get<std::uint32_t>())
                                                    : AnsiFromUtf8(value.get<std::string>());
      EXPECT_EQ(cells[field], text) << names[field] << " in " << csv[i];
    }
  }
}

}  // namespace
}  // namespace glimmora
