#include <gtest/gtest.h>

#include "batch/csv_line.h"

namespace glimmora {
namespace {

TEST(CsvLineTest, QuotesOnlyWhatWouldBreakTheLine) {
  EXPECT_EQ(CsvField("plain text"), "plain text");
  EXPECT_EQ(CsvField(""), "");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("line\nbreak"), "\"line\nbreak\"");
  EXPECT_EQ(CsvField("carriage\rreturn"), "\"carriage\rreturn\"");
  EXPECT_EQ(CsvField("\"quoted\" start"), "\"\"\"quoted\"\" start\"");
  EXPECT_EQ(CsvField("24.0\" wide, 16:10"), "\"24.0\"\" wide, 16:10\"");
  // A quote that is not at the start, with nothing else to protect, stays as it is.
  EXPECT_EQ(CsvField("W:52cm x H:32cm (24.0\")"), "W:52cm x H:32cm (24.0\")");
  EXPECT_EQ(CsvField("日本語,テキスト"), "\"日本語,テキスト\"");
}

TEST(CsvLineTest, JoinsFieldsAndEndsInCrLf) {
  EXPECT_EQ(CsvLine({"PC1", "a,b", "", "c"}), "PC1,\"a,b\",,c\r\n");
  EXPECT_EQ(CsvLine({}), "\r\n");
  // Not a bare line end: that reads back as no field at all.
  EXPECT_EQ(CsvLine({""}), "\"\"\r\n");
}

}  // namespace
}  // namespace glimmora
