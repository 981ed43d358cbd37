#include "batch/batch_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "resources/texts.h"
#include "tests/batch/batch_test_support.h"
#include "tests/batch/limited_output.h"

namespace glimmora {
namespace {

using testing::LimitedOutput;
using testing::ParseCsvLine;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

// Every line ReadInputLine gives for the bytes, read the way the worker reads:
// the end indicator tested before the first line and after each one.
std::vector<std::string> ReadAllLines(std::string_view bytes) {
  TempDir dir;
  const std::string path = dir.File("input.txt");
  WriteBytes(path, bytes);
  std::unique_ptr<InputFile> input = OpenInputFile(path);
  EXPECT_NE(input, nullptr);
  std::vector<std::string> lines;
  while (input && !input->AtEnd()) lines.push_back(ReadInputLine(*input));
  return lines;
}

using Lines = std::vector<std::string>;

TEST(ReadInputLine, LineEndsFollowTheTextFileRules) {
  // CR LF reads as LF; a lone CR is an ordinary byte.
  EXPECT_EQ(ReadAllLines("pc01\r\npc02\npc\r03\n"), (Lines{"pc01", "pc02", "pc\r03", ""}));
  // A last line without a line end is read; one with a line end is followed
  // by an empty line.
  EXPECT_EQ(ReadAllLines("pc01\npc02"), (Lines{"pc01", "pc02"}));
  EXPECT_EQ(ReadAllLines("pc01\n"), (Lines{"pc01", ""}));
  EXPECT_EQ(ReadAllLines(""), (Lines{""}));
  // A CR that finds the end behind it stays and ends the input.
  EXPECT_EQ(ReadAllLines("pc01\r"), (Lines{"pc01\r"}));
  EXPECT_EQ(ReadAllLines("\r\r\n"), (Lines{"\r", ""}));
}

TEST(ReadInputLine, CtrlZEndsTheInput) {
  EXPECT_EQ(ReadAllLines("pc01\npc02\x1Apc03\npc04\n"), (Lines{"pc01", "pc02"}));
  EXPECT_EQ(ReadAllLines("pc01\r\n\x1A\r\npc02"), (Lines{"pc01", ""}));
  // A CR right before Ctrl-Z stays a CR.
  EXPECT_EQ(ReadAllLines("pc01\r\x1A"), (Lines{"pc01\r"}));
}

TEST(ReadInputLine, LongLinesAndZeroBytesAreKept) {
  const std::string longName(100000, 'w');
  EXPECT_EQ(ReadAllLines(longName + "\n"), (Lines{longName, ""}));
  EXPECT_EQ(ReadAllLines(std::string("a\0b\n", 4)), (Lines{std::string("a\0b", 3), ""}));
}

TEST(ExtractWorkstationName, TakesTheFirstTokenInUpperCase) {
  EXPECT_EQ(ExtractWorkstationName("  pc-01,Accounting, room 2"), "PC-01");
  EXPECT_EQ(ExtractWorkstationName("pc01;desk4"), "PC01;DESK4");
  EXPECT_EQ(ExtractWorkstationName("pc02\tsecond floor"), "PC02");
  EXPECT_EQ(ExtractWorkstationName("pc03 printer room"), "PC03");
  EXPECT_EQ(ExtractWorkstationName("\t\v\f pc04 \r"), "PC04");
  EXPECT_EQ(ExtractWorkstationName("10.0.0.7"), "10.0.0.7");
  EXPECT_EQ(ExtractWorkstationName("Pc05.Corp.Example"), "PC05.CORP.EXAMPLE");
  // A CR inside the line is no delimiter; only the ends are trimmed.
  EXPECT_EQ(ExtractWorkstationName("pc06\rpc07"), "PC06\rPC07");
}

TEST(ExtractWorkstationName, IgnoresLinesThatDoNotStartWithALetterOrDigit) {
  for (const char* line :
       {"", "   ", " \t\r\v\f", "# comment", "; comment", "// comment", "\"PC01\"", "\\\\PC01",
        "-PC01", ",PC01", "\x81\x40PC01", "\xC3\xA9quipe"}) {
    EXPECT_EQ(ExtractWorkstationName(line), "") << line;
  }
}

#ifndef _WIN32
TEST(ExtractWorkstationName, KeepsMultibyteCharactersWhole) {
  // Only ASCII letters are upper-cased; the delimiter search steps over characters.
  EXPECT_EQ(ExtractWorkstationName("pc\xE7\xB7\x8F\xE5\x8B\x99 01"), "PC\xE7\xB7\x8F\xE5\x8B\x99");
}
#endif

MonitorRow SampleRow() {
  return {"Monitor",
          "Generic PnP Monitor",
          "(Standard monitor types)",
          "MONITOR\\DELD11D",
          "DELL S3222HN",
          "2NQHQD3",
          "W:70cm x H:39cm (31.3\")",
          "2022/6",
          "1.3"};
}

TEST(ResultLines, PlainFieldsAreWrittenAsTheyAre) {
  EXPECT_EQ(FormatMonitorLine("PC01", "DELD11D", SampleRow()),
            "PC01,DELD11D,Monitor,Generic PnP Monitor,(Standard monitor types),MONITOR\\DELD11D,"
            "DELL S3222HN,2NQHQD3,W:70cm x H:39cm (31.3\"),2022/6,1.3\r\n");
  EXPECT_EQ(FormatFailureLine("PC02", "(Error: Request timed out 10.0.0.2)"),
            "PC02,,,,,,,,,,,(Error: Request timed out 10.0.0.2)\r\n");
}

TEST(ResultLines, FieldCounts) {
  const std::string monitor = FormatMonitorLine("PC01", "DELD11D", SampleRow());
  const std::string failure = FormatFailureLine("PC01", "note");
  const std::string none = FormatNoMonitorLine("PC01");
  EXPECT_EQ(ParseCsvLine(monitor.substr(0, monitor.size() - 2)).size(), 11u);
  EXPECT_EQ(ParseCsvLine(failure.substr(0, failure.size() - 2)).size(), 12u);
  EXPECT_EQ(ParseCsvLine(none.substr(0, none.size() - 2)).size(), 12u);
}

class EnglishTexts : public ::testing::Test {
 protected:
#ifndef _WIN32
  void SetUp() override {
    setenv("LC_ALL", "C", 1);
  }
  void TearDown() override {
    unsetenv("LC_ALL");
  }
#endif
};

TEST_F(EnglishTexts, HeaderAndNoMonitorLine) {
#ifdef _WIN32
  if (LoadText(kTextColumnNote) != "Note") GTEST_SKIP() << "not an English user interface";
#endif
  EXPECT_EQ(FormatHeaderLine(),
            "Workstation Name,Monitor ID,Class,Description,MFG,Hardware ID,Model,Serial Number,"
            "Monitor Size,MFG Date,EDID Version,Note\r\n");
  EXPECT_EQ(FormatNoMonitorLine("PC01"), "PC01,,,,,,,,,,,PC01 has No monitor information.\r\n");
}

#ifndef _WIN32
TEST(ResultLines, HeaderFollowsTheUserInterfaceLanguage) {
  setenv("LC_ALL", "ja_JP.UTF-8", 1);
  const std::string header = FormatHeaderLine();
  const std::string none = FormatNoMonitorLine("PC01");
  unsetenv("LC_ALL");
  EXPECT_EQ(header.rfind("ワークステーション名,モニタ識別,", 0), 0u) << header;
  EXPECT_NE(header.find(",画面サイズ,製造年月,EDIDバージョン,備考\r\n"), std::string::npos)
      << header;
  EXPECT_EQ(none, "PC01,,,,,,,,,,,PC01 はモニタ情報を持っていません。\r\n");
}
#endif

TEST(ResultLines, FieldsThatWouldBeMisreadAreQuoted) {
  MonitorRow row = SampleRow();
  row[kColumnDescription] = "@monitor.inf,%pnpmonitor.devicedesc%;Generic PnP Monitor";
  row[kColumnMfg] = "@monitor.inf,%generic%;(Standard monitor types)";
  row[kColumnModel] = "\"Wide\" 27";
  row[kColumnSerialNumber] = "SN \"7\"";  // a quote inside, not at the start: as it is
  EXPECT_EQ(FormatMonitorLine("PC01", "DELD11D", row),
            "PC01,DELD11D,Monitor,\"@monitor.inf,%pnpmonitor.devicedesc%;Generic PnP Monitor\","
            "\"@monitor.inf,%generic%;(Standard monitor types)\",MONITOR\\DELD11D,"
            "\"\"\"Wide\"\" 27\",SN \"7\",W:70cm x H:39cm (31.3\"),2022/6,1.3\r\n");

  const std::string note = "Registry Open Error : Key=PC09 Code=5 Desc=Access is denied, really.";
  const std::string failure = FormatFailureLine("PC09", note);
  EXPECT_EQ(failure, "PC09,,,,,,,,,,,\"" + note + "\"\r\n");

  const std::string multiline = FormatFailureLine("PC10", "first\r\nsecond\nthird");
  EXPECT_EQ(multiline, "PC10,,,,,,,,,,,\"first\r\nsecond\nthird\"\r\n");
}

TEST(ResultLines, QuotedFieldsReadBackAsWritten) {
  MonitorRow row = SampleRow();
  row[kColumnDescription] = "Dell S3222HN (HDMI, DP)";
  row[kColumnMfg] = "\"Dell\", Inc.";
  row[kColumnHardwareId] = "";
  const std::string line = FormatMonitorLine("PC01", "DELD11D", row);
  std::vector<std::string> expected = {"PC01", "DELD11D"};
  expected.insert(expected.end(), row.begin(), row.end());
  EXPECT_EQ(ParseCsvLine(line.substr(0, line.size() - 2)), expected);
}

TEST(OutputFile, LinesEndInCrLfOnEveryPlatform) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  std::unique_ptr<OutputStream> output = OpenOutputFile(path);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(WriteOutputLine(*output, FormatFailureLine("PC01", "x")), 0);
  EXPECT_EQ(WriteOutputLine(*output, FormatFailureLine("PC02", "y")), 0);
  EXPECT_TRUE(output->Close());
  EXPECT_EQ(ReadBytes(path), "PC01,,,,,,,,,,,x\r\nPC02,,,,,,,,,,,y\r\n");
}

TEST(OutputFile, OpeningTruncatesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  WriteBytes(path, "old content that is longer than the new\r\n");
  std::unique_ptr<OutputStream> output = OpenOutputFile(path);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(WriteOutputLine(*output, "new\r\n"), 0);
  EXPECT_TRUE(output->Close());
  EXPECT_EQ(ReadBytes(path), "new\r\n");
}

// Two batches must not interleave their lines in one file; the one that
// comes second is refused before it can empty what the first has written.
TEST(OutputFile, AFileBeingWrittenIsRefusedToASecondWriterAndKeepsItsContent) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  std::unique_ptr<OutputStream> first = OpenOutputFile(path);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(WriteOutputLine(*first, "PC01,,x\r\n"), 0);
  std::string reason;
  EXPECT_EQ(OpenOutputFile(path, &reason), nullptr);
  EXPECT_EQ(reason, kOutputFileInUse);
  EXPECT_EQ(ReadBytes(path), "PC01,,x\r\n");  // on disk already, and not truncated
  EXPECT_EQ(WriteOutputLine(*first, "PC02,,y\r\n"), 0);
  EXPECT_TRUE(first->Close());
  EXPECT_EQ(ReadBytes(path), "PC01,,x\r\nPC02,,y\r\n");
  // Once closed, the file is free again.
  std::unique_ptr<OutputStream> next = OpenOutputFile(path);
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(ReadBytes(path), "");
}

TEST(OutputFile, OpenFailures) {
  TempDir dir;
  EXPECT_EQ(OpenOutputFile(dir.File("no-such-directory/out.csv")), nullptr);
  EXPECT_EQ(OpenOutputFile(dir.path().string()), nullptr);  // a directory
  EXPECT_EQ(OpenInputFile(dir.File("missing.txt")), nullptr);
}

#ifdef __linux__
TEST(InputFile, AReadErrorIsNoEndOfFile) {
  TempDir dir;
  // Linux opens a directory for reading; every read of it fails.
  EXPECT_EQ(OpenInputFile(dir.path().string()), nullptr);
  InputFile input(UniqueFile(std::fopen(dir.path().string().c_str(), "rb")));
  EXPECT_EQ(ReadInputLine(input), "");
  EXPECT_TRUE(input.AtEnd());
  EXPECT_TRUE(input.ReadFailed());
}
#endif

TEST(InputFile, AnEmptyFileOpensAndEnds) {
  TempDir dir;
  WriteBytes(dir.File("empty.txt"), "");
  std::unique_ptr<InputFile> input = OpenInputFile(dir.File("empty.txt"));
  ASSERT_NE(input, nullptr);
  EXPECT_FALSE(input->AtEnd());
  EXPECT_EQ(ReadInputLine(*input), "");
  EXPECT_TRUE(input->AtEnd());
  EXPECT_FALSE(input->ReadFailed());
}

TEST(OutputFile, AShortWriteFailsTheLineAndKeepsWhatWasAccepted) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  LimitedOutput output(OpenOutputFile(path), 10);
  EXPECT_EQ(WriteOutputLine(output, "PC01,,x\r\n"), 0);  // 9 bytes
  EXPECT_EQ(WriteOutputLine(output, "PC02,,y\r\n"), -1);
  EXPECT_EQ(WriteOutputLine(output, "PC03,,z\r\n"), -1);
  EXPECT_TRUE(output.Close());
  EXPECT_EQ(ReadBytes(path), "PC01,,x\r\nP");
}

TEST(OutputFile, AShortHeaderWriteFails) {
  TempDir dir;
  LimitedOutput output(OpenOutputFile(dir.File("out.csv")), FormatHeaderLine().size() - 1);
  EXPECT_EQ(WriteHeaderLine(output), -1);
}

#ifdef __linux__
TEST(OutputFile, AFullDiskIsAFailure) {
  std::unique_ptr<OutputStream> output = OpenOutputFile("/dev/full");
  ASSERT_NE(output, nullptr);
  // Unbuffered: the write itself fails.
  EXPECT_EQ(WriteHeaderLine(*output), -1);

  std::unique_ptr<OutputStream> large = OpenOutputFile("/dev/full");
  ASSERT_NE(large, nullptr);
  const std::string line(1 << 20, 'x');
  EXPECT_EQ(WriteOutputLine(*large, line), -1);
}
#endif

}  // namespace
}  // namespace glimmora
