// An earlier run's output read back: where a resumed run goes on for every
// point at which the first run may have been cut off, what a resume refuses,
// and which workstations a retry examines again and how their lines merge.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/csv_format.h"
#include "batch/earlier_run.h"
#include "batch/json_format.h"

#include "inventory/ansi_conversion.h"
#include "resources/texts.h"
#include "tests/batch/fleet_golden.h"
#include "tests/support/batch_files.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::ParseCsvLine;
using testing::SplitResultLines;

std::vector<std::string> SampleNames() {
  std::vector<std::string> names;
  auto input = OpenInputFile(std::string(GLIMMORA_SOURCE_DIR) + "/examples/workstations.txt");
  EXPECT_TRUE(input);
  while (input && !input->AtEnd()) {
    std::string name = ExtractWorkstationName(ReadInputLine(*input));
    if (!name.empty()) names.push_back(name);
  }
  return names;
}

NameSource From(const std::vector<std::string>& names) {
  auto next = std::make_shared<std::size_t>(0);
  return [&names, next]() -> std::optional<std::string> {
    if (*next >= names.size()) return std::nullopt;
    return names[(*next)++];
  };
}

std::string AsIs(std::string_view text) {
  return std::string(text);
}

class EarlierRunTest : public ::testing::Test {
 protected:
  testing::ScopedEnv english_{"LC_ALL", "C"};
  const CsvResultFormat layout_;
};

TEST_F(EarlierRunTest, ResumeGoesOnAfterTheLastWholeWorkstationWhereverTheRunWasCut) {
  const std::vector<std::string> names = SampleNames();
  const std::string complete = testing::ExpectedFleetInventory();
  const std::size_t headerEnd = complete.find("\r\n") + 2;
  // Where each workstation's lines begin and end in the complete file, and
  // whether they are one failure or no-monitor line (twelve fields).
  std::vector<std::size_t> begins;
  std::vector<bool> single;
  std::vector<std::pair<std::size_t, std::size_t>> lineEnds;  // end, workstation
  std::size_t offset = headerEnd;
  std::string previous;
  for (const std::string& line : SplitResultLines(std::string_view(complete).substr(headerEnd))) {
    const std::vector<std::string> fields = ParseCsvLine(line);
    if (fields[0] != previous) {
      begins.push_back(offset);
      single.push_back(fields.size() == 12);
    }
    previous = fields[0];
    offset += line.size() + 2;
    lineEnds.emplace_back(offset, begins.size() - 1);
  }
  ASSERT_EQ(begins.size(), names.size());

  for (std::size_t cut = 0; cut <= complete.size(); ++cut) {
    SCOPED_TRACE("cut after byte " + std::to_string(cut));
    const ResumePlan plan = PlanResume(layout_, "", AsIs, complete.substr(0, cut), From(names));
    ASSERT_TRUE(plan.fits) << plan.refusal;
    if (cut < headerEnd) {
      EXPECT_TRUE(plan.writeHeader);
      EXPECT_EQ(plan.keptBytes, 0u);
      continue;
    }
    EXPECT_FALSE(plan.writeHeader);
    // What stays is the file up to where the next workstation's lines begin...
    const std::size_t done = plan.workstationsDone;
    ASSERT_LE(done, names.size());
    EXPECT_EQ(plan.keptBytes, done < names.size() ? begins[done] : complete.size());
    EXPECT_LE(plan.keptBytes, cut);
    // ... and the only workstation examined again that had all its lines is
    // one of monitor lines that the file ends with: it may have had more.
    std::size_t expected = 0;
    for (const auto& [end, workstation] : lineEnds) {
      if (end <= cut) expected = single[workstation] ? workstation + 1 : workstation;
    }
    EXPECT_EQ(done, expected);
  }
}

TEST_F(EarlierRunTest, ResumeRefusesAFileThatIsNotThisInputsOutput) {
  const std::vector<std::string> names = SampleNames();
  const std::string complete = testing::ExpectedFleetInventory();
  const std::string header = FormatHeaderLine();
  const std::string acct02 = FormatNoMonitorLine("ACCT-02");
  const struct {
    const char* what;
    std::string start;
    std::string file;
    std::string says;
  } cases[] = {
      {"another program's file", "", "Name,Model\r\nPC1,U2720Q\r\n", "line 1 is not the header"},
      {"another language's header", "",
       AnsiFromUtf8(std::string(TableText(kTextColumnWorkstationName, Language::kJapanese))) +
           header.substr(header.find(',')),
       "line 1 is not the header"},
      {"other names", "", header + acct02,
       "line 2 names ACCT-02 where INPUT's next workstation is ACCT-01"},
      {"a line of another layout", "", header + "{\"workstation\":\"ACCT-01\"}\r\n",
       "line 2 is not a line this batch writes"},
      {"a workstation missing in the middle", "",
       header + FormatNoMonitorLine("ACCT-01") + FormatNoMonitorLine("ACCT-01") + acct02,
       "line 2 starts more lines for ACCT-01"},
      {"more than the input names", "", complete + FormatNoMonitorLine("GHOST-PC"),
       "names GHOST-PC, after the last workstation of INPUT"},
      {"a byte-order mark this run does not write", "", "\xEF\xBB\xBF" + header, "byte-order mark"},
      {"no byte-order mark where this run writes one", "\xEF\xBB\xBF", complete,
       "it has no byte-order mark"},
  };
  for (const auto& c : cases) {
    const ResumePlan plan = PlanResume(layout_, c.start, AsIs, c.file, From(names));
    EXPECT_FALSE(plan.fits) << c.what;
    EXPECT_NE(plan.refusal.find(c.says), std::string::npos) << c.what << ": " << plan.refusal;
  }
}

// Files a tool saved again with their lines intact: a retry reads them in the
// form this batch writes (so a merge writes one form), a resume appends only
// where the result keeps one form and otherwise says what to mend. A file of
// another layout is refused naming the options that read it.
TEST_F(EarlierRunTest, FilesSavedAgainInAnotherFormOrLayoutReadBackOrAreRefusedSayingWhy) {
  const std::vector<std::string> names = SampleNames();
  const std::string complete = testing::ExpectedFleetInventory();
  const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    testing::ReplaceAll(text, from, to);
    return text;
  };
  // As a spreadsheet saves it: monitor lines get the header's twelfth field.
  std::string spreadsheet;
  for (const std::string& line : SplitResultLines(complete))
    spreadsheet += line + (ParseCsvLine(line).size() == 11 ? ",\r\n" : "\r\n");
  std::string json;
  for (std::size_t i = 0; i < 3; ++i)
    json += JsonLinesResultFormat().ReasonLine(names[i], WorkstationResult::kNotFound, "x",
                                               ServiceHandling::kNotNeeded);
  std::string blankInTheMiddle = complete;
  blankInTheMiddle.insert(complete.find("\r\n"), "\r\n");
  const CsvResultFormat extended(true);
  const JsonLinesResultFormat jsonLines;

  const struct {
    const char* what;
    const ResultFormat& layout;
    std::string file;
    std::string asWritten;   // what the file reads as; empty: refused
    std::string refusal;     // why a retry refuses it
    std::string resumeSays;  // why a resume refuses it; empty: it resumes as asWritten does
  } cases[] = {
      {"LF line ends", layout_, replaced(complete, "\r\n", "\n"), complete, "",
       "line 1 ends in LF alone where this batch writes CR LF, so lines appended to it would "
       "differ: convert its line ends back to CR LF (unix2dos), then resume"},
      {"an empty Note on monitor lines", layout_, spreadsheet, complete, "",
       "line 2 has an empty field after its last column (as a spreadsheet saves the file), so "
       "lines appended to it would differ: remove the last comma of each monitor line"},
      {"both", layout_, replaced(spreadsheet, "\r\n", "\n"), complete, "",
       "line 1 ends in LF alone"},
      {"a blank line more at the end", layout_, complete + "\r\n", complete, "", ""},
      {"blank lines in LF at the end", layout_, complete + "\n\n", complete, "", ""},
      {"a blank line in the middle", layout_, blankInTheMiddle, "", "line 2 is not a line",
       "line 2 is not a line"},
      {"JSON lines read as the CSV", layout_, json, "", "it is JSON lines: give --format jsonl",
       "it is JSON lines: give --format jsonl"},
      {"JSON lines read as the extended columns", extended, json, "",
       "give --format jsonl instead of --columns extended",
       "give --format jsonl instead of --columns extended"},
      {"the CSV read as JSON lines", jsonLines, complete, "",
       "line 1 is not a line of a Glimmora result file; it is a CSV result file of the specified "
       "columns: leave out --format jsonl",
       "line 1 is not a line this batch writes; it is a CSV result file of the specified "
       "columns: leave out --format jsonl"},
      {"the extended columns read as the specified", layout_, extended.Header(), "",
       "it is a CSV result file of the extended columns: give --columns extended",
       "give --columns extended"},
      {"the specified columns read as the extended", extended, complete, "",
       "leave out --columns extended", "leave out --columns extended"},
      {"JSON lines with CR LF", jsonLines, replaced(json, "\n", "\r\n"), json, "",
       "line 1 ends in CR LF where this batch writes LF alone, so lines appended to it would "
       "differ: convert its line ends back to LF (dos2unix), then resume"},
      {"JSON lines with a blank line more", jsonLines, json + "\n", json, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const EarlierOutput read = ReadEarlierOutput(c.layout, c.file);
    if (c.asWritten.empty()) {
      EXPECT_FALSE(read.fits);
      EXPECT_NE(read.refusal.find(c.refusal), std::string::npos) << read.refusal;
    } else {
      ASSERT_TRUE(read.fits) << read.refusal;
      const EarlierOutput expected = ReadEarlierOutput(c.layout, c.asWritten);
      EXPECT_EQ(read.header, expected.header);
      ASSERT_EQ(read.workstations.size(), expected.workstations.size());
      for (std::size_t i = 0; i < read.workstations.size(); ++i) {
        EXPECT_EQ(read.workstations[i].workstation, expected.workstations[i].workstation);
        EXPECT_EQ(read.workstations[i].result, expected.workstations[i].result);
        EXPECT_EQ(read.workstations[i].lines, expected.workstations[i].lines);
      }
    }

    const ResumePlan plan = PlanResume(c.layout, "", AsIs, c.file, From(names));
    if (!c.resumeSays.empty()) {
      EXPECT_FALSE(plan.fits);
      EXPECT_NE(plan.refusal.find(c.resumeSays), std::string::npos) << plan.refusal;
    } else {
      ASSERT_TRUE(plan.fits) << plan.refusal;
      const ResumePlan expected = PlanResume(c.layout, "", AsIs, c.asWritten, From(names));
      EXPECT_EQ(plan.keptBytes, expected.keptBytes);
      EXPECT_EQ(plan.workstationsDone, expected.workstationsDone);
      EXPECT_EQ(plan.writeHeader, expected.writeHeader);
    }
  }
}

TEST_F(EarlierRunTest, RetryTakesTheFailuresInEitherLanguageAndMergesWhatComesBack) {
  const auto japanese = [](TextId id) { return AnsiFromUtf8(TableText(id, Language::kJapanese)); };
  const std::string complete = testing::ExpectedFleetInventory();
  const std::vector<std::string> golden = SplitResultLines(complete);
  const std::string monitors = golden[1] + "\r\n" + golden[2] + "\r\n";  // ACCT-01's two
  const struct {
    std::string line;
    WorkstationResult result;
  } earlier[] = {
      {monitors, WorkstationResult::kMonitors},
      {FormatFailureLine("B", LoadText(kTextHostNotFound) + " B)"), WorkstationResult::kNotFound},
      {FormatFailureLine("C", LoadText(kTextRequestTimedOut) + "(10.1.2.3))"),
       WorkstationResult::kNoReply},
      {FormatFailureLine("D", FormatTimedOutNote(std::chrono::seconds(60))),
       WorkstationResult::kTimedOut},
      {FormatFailureLine("E", "Registry Open Error : Key=E Code=5 Desc=Access is denied."),
       WorkstationResult::kRegistryDenied},
      {FormatFailureLine(
           "F", "Registry Open Error : Key=F Code=53 Desc=The network path was not found."),
       WorkstationResult::kRegistryUnreachable},
      {FormatNoMonitorLine("G"), WorkstationResult::kNoMonitorInfo},
      {FormatFailureLine("H", japanese(kTextHostNotFound) + " H)"), WorkstationResult::kNotFound},
      {FormatFailureLine("I", "I" + japanese(kTextNoMonitorInformation)),
       WorkstationResult::kNoMonitorInfo},
      {FormatFailureLine("J", japanese(kTextRegistryOpenError) + " : Key=J Code=1722 Desc=x"),
       WorkstationResult::kRegistryUnreachable},
      // A logon the workstation refused is a denial, as the run that wrote it said.
      {FormatFailureLine("E2",
                         "Registry Open Error : Key=E2 Code=1326 Desc=The user name or "
                         "password is incorrect."),
       WorkstationResult::kRegistryDenied},
      {FormatFailureLine("E3", "Registry Open Error : Key=E3 Code=1332 Desc=No mapping."),
       WorkstationResult::kRegistryUnreachable},
  };
  std::string text = FormatHeaderLine();
  for (const auto& e : earlier) text += e.line;

  const EarlierOutput read = ReadEarlierOutput(layout_, text);
  ASSERT_TRUE(read.fits) << read.refusal;
  ASSERT_EQ(read.workstations.size(), std::size(earlier));
  for (std::size_t i = 0; i < std::size(earlier); ++i) {
    EXPECT_EQ(read.workstations[i].result, earlier[i].result) << earlier[i].line;
    EXPECT_EQ(read.workstations[i].lines, earlier[i].line);
  }
  const std::vector<std::size_t> failed = FailedWorkstations(read);
  EXPECT_EQ(failed, (std::vector<std::size_t>{1, 2, 3, 4, 5, 7, 9, 10, 11}));

  // B now has a monitor, C still does not answer, D has none; the retry was
  // stopped before the others.
  const std::string bMonitor = FormatMonitorLine(
      "B", "DELD11D", MonitorRow{"Monitor", "d", "m", "h", "U2720Q", "7", "s", "2020/1", "1.4"});
  const std::string cAgain = FormatFailureLine("C", LoadText(kTextRequestTimedOut) + "(10.1.2.4))");
  const std::string merged =
      MergeRetried(read, failed,
                   {{"B", WorkstationResult::kMonitors, {bMonitor}},
                    {"C", WorkstationResult::kTimedOut, {cAgain}},
                    {"D", WorkstationResult::kNoMonitorInfo, {FormatNoMonitorLine("D")}}});
  std::string expected =
      FormatHeaderLine() + earlier[0].line + bMonitor + earlier[2].line + FormatNoMonitorLine("D");
  for (std::size_t i = 4; i < std::size(earlier); ++i) expected += earlier[i].line;
  EXPECT_EQ(merged, expected);

  // Not a result file, or cut off: refused, naming the line.
  for (const auto& [bad, says] : {std::pair<std::string, std::string>{"Name,Model\r\n", "line 1 "},
                                  {text + "K,,,,", "line 15 is cut off"},
                                  {text + "K,1,2\r\n", "line 15 is not a line"}}) {
    const EarlierOutput refused = ReadEarlierOutput(layout_, bad);
    EXPECT_FALSE(refused.fits);
    EXPECT_NE(refused.refusal.find(says), std::string::npos) << refused.refusal;
  }
}

}  // namespace
}  // namespace glimmora
