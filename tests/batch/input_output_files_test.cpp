#include "batch/csv_format.h"
#include "batch/input_list.h"
#include "batch/output_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "batch/held_file.h"
#include "inventory/ansi_conversion.h"
#include "resources/texts.h"
#include "tests/batch/limited_output.h"
#include "tests/support/batch_files.h"

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

TEST(ReadInputLine, LongLinesAreKept) {
  const std::string longName(100000, 'w');
  EXPECT_EQ(ReadAllLines(longName + "\n"), (Lines{longName, ""}));
}

// A list as Notepad saves it as "Unicode" (and PowerShell's > writes it), or
// as UTF-8 with a mark: a byte-order mark, then the text.
std::string Utf16(std::u16string_view text, bool bigEndian = false, bool mark = true) {
  std::string bytes;
  for (char16_t unit : std::u16string(mark ? u"\xFEFF" : u"") + std::u16string(text)) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

struct ListRead {
  bool opened = false;
  std::string reason;  // of a failed open or read
  Lines lines;
  bool failed = false;
};

ListRead ReadList(std::string_view bytes) {
  TempDir dir;
  WriteBytes(dir.File("list.txt"), bytes);
  ListRead read;
  std::unique_ptr<InputFile> input = OpenInputFile(dir.File("list.txt"), &read.reason);
  read.opened = input != nullptr;
  while (input && !input->AtEnd()) read.lines.push_back(ReadInputLine(*input));
  if (input) {
    read.failed = input->ReadFailed();
    read.reason = input->FailureReason();
  }
  return read;
}

// The line rules apply to the text, whatever its encoding; the text comes out
// as the program's 8-bit text (UTF-8 here, the ANSI code page on Windows).
TEST(InputFile, MarkedListsAreReadAsTheirText) {
  const std::u16string pairs = [] {
    std::u16string text = u"a";  // so that a piece of 4,096 units would end inside a pair
    for (int i = 0; i < 3000; ++i) text += u"\U0001F5A5";
    return text;
  }();
  const std::string pairsUtf8 = [] {
    std::string text = "a";
    for (int i = 0; i < 3000; ++i) text += "\xF0\x9F\x96\xA5";
    return text;
  }();
  const struct {
    const char* what;
    std::string bytes;
    Lines lines;
  } cases[] = {
      {"UTF-16 LE",
       Utf16(u"pc01\r\n# note\r\npc02, room 3\r\n"),
       {"pc01", "# note", "pc02, room 3", ""}},
      {"UTF-16 BE", Utf16(u"pc01\r\npc02", true), {"pc01", "pc02"}},
      {"lone CR", Utf16(u"pc\r01\n\r"), {"pc\r01", "\r"}},
      {"Ctrl-Z", Utf16(u"pc01\n\x1Apc02\n"), {"pc01", ""}},
      {"odd last byte", Utf16(u"pc01") + "p", {"pc01"}},
      {"non-ASCII",
       Utf16(u"caf\u00E9 1\npc\u7DCF\u52D9", true),
       {AnsiFromUtf8("caf\xC3\xA9 1"), AnsiFromUtf8("pc\xE7\xB7\x8F\xE5\x8B\x99")}},
      {"surrogate pairs over a long line", Utf16(pairs), {AnsiFromUtf8(pairsUtf8)}},
      {"UTF-8 mark", "\xEF\xBB\xBFpc01\r\npc02\n", {"pc01", "pc02", ""}},
      {"UTF-8 mark, non-ASCII",
       "\xEF\xBB\xBF\xC3\xA9quipe\npc01",
       {AnsiFromUtf8("\xC3\xA9quipe"), "pc01"}},
      {"mark alone", "\xFF\xFE", {""}},
  };
  for (const auto& list : cases) {
    const ListRead read = ReadList(list.bytes);
    ASSERT_TRUE(read.opened) << list.what << ": " << read.reason;
    EXPECT_EQ(read.lines, list.lines) << list.what;
    EXPECT_FALSE(read.failed) << list.what << ": " << read.reason;
  }
  EXPECT_EQ(ExtractWorkstationName(ReadList(Utf16(u"pc01,room 3")).lines.at(0)), "PC01");

  // NUL is no text: UTF-16 without its mark is refused when opened, so the
  // output stays untouched; a NUL further on fails the read there, and the
  // line it cut gives no name.
  for (const std::string& unmarked :
       {Utf16(u"pc01\n", false, false), Utf16(u"pc01\n", true, false), std::string("\0", 1)}) {
    const ListRead read = ReadList(unmarked);
    EXPECT_FALSE(read.opened);
    EXPECT_NE(read.reason.find("NUL"), std::string::npos) << read.reason;
  }
  for (const std::string& later :
       {std::string("pc01\npc02\0\n", 11), Utf16(std::u16string_view(u"pc01\npc02\0", 10))}) {
    const ListRead read = ReadList(later);
    ASSERT_TRUE(read.opened);
    EXPECT_EQ(read.lines, (Lines{"pc01", ""}));
    EXPECT_TRUE(read.failed);
    EXPECT_NE(read.reason.find("NUL"), std::string::npos) << read.reason;
  }
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
  EXPECT_EQ(WriteOutputLine(output, FormatHeaderLine()), -1);
}

#ifdef __linux__
TEST(OutputFile, AFullDiskIsAFailure) {
  std::unique_ptr<OutputStream> output = OpenOutputFile("/dev/full");
  ASSERT_NE(output, nullptr);
  // Unbuffered: the write itself fails.
  EXPECT_EQ(WriteOutputLine(*output, FormatHeaderLine()), -1);

  std::unique_ptr<OutputStream> large = OpenOutputFile("/dev/full");
  ASSERT_NE(large, nullptr);
  const std::string line(1 << 20, 'x');
  EXPECT_EQ(WriteOutputLine(*large, line), -1);
}
#endif

// A file held to be replaced: no batch opens it to write while it is held,
// and it is not held while a batch writes it; it is replaced whole.
TEST(HeldFileTest, NoBatchWritesAFileWhileItIsHeldAndItIsReplacedWhole) {
  TempDir dir;
  const std::string path = dir.File("old.csv");
  WriteBytes(path, "old lines\r\n");
  std::string reason;
  std::unique_ptr<HeldFile> held = HeldFile::Open(path, HeldFile::Hold::kExclusive, &reason);
  ASSERT_TRUE(held) << reason;
  EXPECT_FALSE(OpenOutputFile(path, &reason));
  EXPECT_EQ(reason, kOutputFileInUse);
  std::string bytes;
  ASSERT_TRUE(held->Read(&bytes, &reason)) << reason;
  EXPECT_EQ(bytes, "old lines\r\n");
  ASSERT_TRUE(held->Replace("merged lines\r\n", &reason)) << reason;
  held.reset();
  EXPECT_EQ(ReadBytes(path), "merged lines\r\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".glimmora-new"));

  std::unique_ptr<OutputStream> writer = OpenOutputFileKeeping(path, 6, &reason);
  ASSERT_TRUE(writer) << reason;
  for (HeldFile::Hold hold : {HeldFile::Hold::kShared, HeldFile::Hold::kExclusive}) {
    reason.clear();
    EXPECT_FALSE(HeldFile::Open(path, hold, &reason));
    EXPECT_EQ(reason, kOutputFileInUse);
  }
  writer.reset();
  // A file that is not there yet is held as none and created.
  held = HeldFile::Open(dir.File("new.csv"), HeldFile::Hold::kExclusive, &reason);
  ASSERT_TRUE(held) << reason;
  EXPECT_FALSE(held->Exists());
  ASSERT_TRUE(held->Replace("x", &reason)) << reason;
  EXPECT_EQ(ReadBytes(dir.File("new.csv")), "x");
}

}  // namespace
}  // namespace glimmora
