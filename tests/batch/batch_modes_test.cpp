// `glimmora batch` around an interrupted night: a resumed run ends with the
// bytes of an uninterrupted one wherever the first was cut off, a file that
// is not this run's output is refused and left alone, the failures of a run
// are examined again once their workstations are back, and the result goes
// through standard input and output with a byte-order mark.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "inventory/ansi_conversion.h"
#include "tests/batch/batch_test_support.h"
#include "tests/batch/fleet_golden.h"
#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/time_zone.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

using glimmora::testing::ReadBytes;
using glimmora::testing::WriteBytes;

const std::string kSourceDir = GLIMMORA_SOURCE_DIR;
const std::string kWorkstations = kSourceDir + "/examples/workstations.txt";
constexpr const char* kMark = "\xEF\xBB\xBF";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The program's text as a UTF-8 file holds it.
std::string Utf8(const std::string& text) {
#ifdef _WIN32
  const int units =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, utf8.data(), bytes, nullptr, nullptr);
  return utf8;
#else
  return text;
#endif
}

class BatchModesTest : public ::testing::Test {
 protected:
  glimmora::testing::ProcessResult Batch(std::vector<std::string> args,
                                         const std::string& input = {}) {
    args.insert(args.begin(), "batch");
    return glimmora::testing::RunProcess(GLIMMORA_CLI_PATH, args, dir_.File("run"), input);
  }
  // The fleet's exports in a directory of the test's own.
  std::string CopyFleet() {
    const std::string fleet = dir_.File("fleet");
    std::filesystem::copy(kSourceDir + "/examples/fleet", fleet);
    return fleet;
  }
  std::string Uninterrupted(const std::string& fleet, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = more;
    for (const std::string& arg : {std::string("--offline"), fleet, kWorkstations, complete_})
      args.push_back(arg);
    const auto run = Batch(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // The counts are asked for; what a batch says at its end is as it was.
    EXPECT_TRUE(Contains(run.err, "The batch process has been finished.")) << run.err;
    EXPECT_FALSE(Contains(run.err, "Workstations examined")) << run.err;
    return ReadBytes(complete_);
  }

  glimmora::testing::ScopedEnv english_{"LC_ALL", "C"};
  glimmora::testing::ScopedTimeZone utc_{glimmora::testing::kZoneUtc};
  glimmora::testing::TempDir dir_;
  std::string output_ = dir_.File("inventory.csv");
  std::string complete_ = dir_.File("complete.csv");
};

TEST_F(BatchModesTest, AResumeAfterAKillEndsWithTheBytesOfAnUninterruptedRun) {
  const std::string fleet = CopyFleet();
  const std::string complete = Uninterrupted(fleet);
  const std::size_t header = complete.find("\r\n") + 2;
  const std::size_t secondLine = complete.find("\r\n", header) + 2;  // ACCT-01 has two monitors
  const std::size_t noMonitor = complete.find("LAPTOP-07,");         // after LAPTOP-06's line
  // What a kill leaves: any beginning of the file.
  const std::size_t cuts[] = {0,
                              40,
                              header,
                              header + 7,
                              secondLine,
                              noMonitor,
                              noMonitor + 3,
                              complete.size() / 2,
                              complete.size() - 1,
                              complete.size()};
  for (const char* jobs : {"1", "8"}) {
    for (std::size_t cut : cuts) {
      WriteBytes(output_, complete.substr(0, cut));
      const auto run =
          Batch({"--resume", "--jobs", jobs, "--offline", fleet, kWorkstations, output_});
      EXPECT_EQ(run.exitCode, 0) << "--jobs " << jobs << ", cut " << cut << ": " << run.err;
      EXPECT_EQ(ReadBytes(output_), complete) << "--jobs " << jobs << ", cut after byte " << cut;
    }
  }
}

// The opt-in formats read back as the CSV does: cut anywhere, a resumed run
// ends with the uninterrupted bytes; the other format's file is refused; a
// retry finds the same failures.
TEST_F(BatchModesTest, TheExtendedColumnsAndJsonLinesResumeAndRetryAlike) {
  const std::string fleet = CopyFleet();
  const std::string specified = Uninterrupted(fleet);
  for (const std::vector<std::string>& format : {std::vector<std::string>{"--columns", "extended"},
                                                 std::vector<std::string>{"--format", "jsonl"}}) {
    const std::string complete = Uninterrupted(fleet, format);
    for (std::size_t cut : {std::size_t{0}, std::size_t{25}, complete.size() / 3,
                            complete.size() * 2 / 3, complete.size() - 1}) {
      WriteBytes(output_, complete.substr(0, cut));
      std::vector<std::string> args = format;
      for (const std::string& arg :
           {std::string("--resume"), std::string("--offline"), fleet, kWorkstations, output_})
        args.push_back(arg);
      const auto run = Batch(args);
      EXPECT_EQ(run.exitCode, 0) << format[1] << ", cut " << cut << ": " << run.err;
      EXPECT_EQ(ReadBytes(output_), complete) << format[1] << ", cut after byte " << cut;
    }
    // The specified file is not the beginning of this format's output.
    WriteBytes(output_, specified.substr(0, specified.size() / 2));
    std::vector<std::string> args = format;
    for (const std::string& arg :
         {std::string("--resume"), std::string("--offline"), fleet, kWorkstations, output_})
      args.push_back(arg);
    const auto refused = Batch(args);
    EXPECT_EQ(refused.exitCode, 1) << format[1] << ": " << refused.err;
    EXPECT_EQ(ReadBytes(output_), specified.substr(0, specified.size() / 2));

    // Retried from this format's file: GHOST-PC, the one failure of the fleet.
    WriteBytes(output_, complete);
    args = format;
    for (const std::string& arg : {std::string("--retry-from"), output_, std::string("--offline"),
                                   fleet, dir_.File("retried")})
      args.push_back(arg);
    const auto retried = Batch(args);
    EXPECT_EQ(retried.exitCode, 0) << format[1] << ": " << retried.err;
    EXPECT_TRUE(Contains(ReadBytes(dir_.File("retried")), "GHOST-PC")) << format[1];
    EXPECT_FALSE(Contains(ReadBytes(dir_.File("retried")), "ACCT-01")) << format[1];
  }
}

// A list in an 8-bit code page: off Windows its É and È are bytes that are no
// UTF-8, which JSON lines and a UTF-8 file write as U+FFFD (two names then
// read back alike); ANSI keeps them. Whatever the file holds, a resume goes
// on from any cut and the failures are retried and merged.
TEST_F(BatchModesTest, ANameInAnEightBitCodePageResumesAndRetriesInEveryOutput) {
  const std::string fleet = CopyFleet();
  const std::string list = dir_.File("latin-1.txt");
  WriteBytes(list, "ACCT-01\r\nCAF\xC9-01\r\nCAF\xC8-01\r\nHR-11\r\nGHOST-PC\r\nCAF\xC9-01\r\n");
  for (const std::vector<std::string>& format :
       {std::vector<std::string>{"--format", "jsonl"},
        std::vector<std::string>{"--encoding", "utf-8"},
        std::vector<std::string>{"--encoding", "utf-8-bom"},
        std::vector<std::string>{"--encoding", "ansi"}}) {
    const auto run = [&](const std::vector<std::string>& more) {
      std::vector<std::string> args = format;
      args.insert(args.end(), more.begin(), more.end());
      return Batch(args);
    };
    const auto whole = run({"--offline", fleet, list, complete_});
    ASSERT_EQ(whole.exitCode, 0) << format[1] << ": " << whole.err;
    const std::string complete = ReadBytes(complete_);
    const bool unicode = format[1] != "ansi";
    EXPECT_EQ(unicode, glimmora::ValidUtf8(complete) == complete) << format[1];
    const std::string cafe = unicode ? glimmora::ValidUtf8(Utf8("CAF\xC9-01")) : "CAF\xC9-01";
    EXPECT_TRUE(Contains(complete, cafe)) << format[1];

    // Cut after each line, and in the middle of each.
    std::vector<std::size_t> cuts = {0};
    for (std::size_t end = complete.find('\n'); end != std::string::npos;
         end = complete.find('\n', end + 1)) {
      cuts.push_back((cuts.back() + end) / 2);
      cuts.push_back(end + 1);
    }
    for (std::size_t cut : cuts) {
      WriteBytes(output_, complete.substr(0, cut));
      const auto resumed = run({"--resume", "--offline", fleet, list, output_});
      EXPECT_EQ(resumed.exitCode, 0) << format[1] << ", cut " << cut << ": " << resumed.err;
      EXPECT_EQ(ReadBytes(output_), complete) << format[1] << ", cut after byte " << cut;
    }

    // The four failures are examined again by the names the file holds; they
    // fail again, so the merge leaves the file as it was.
    const auto retried = run({"--retry-from", complete_, "--offline", fleet, output_});
    EXPECT_EQ(retried.exitCode, 0) << format[1] << ": " << retried.err;
    const std::string again = ReadBytes(output_);
    EXPECT_TRUE(Contains(again, "GHOST-PC") && Contains(again, cafe)) << format[1];
    EXPECT_FALSE(Contains(again, "ACCT-01") || Contains(again, "HR-11")) << format[1];
    const auto merged = run({"--retry-from", complete_, "--merge", "--offline", fleet, complete_});
    EXPECT_EQ(merged.exitCode, 0) << format[1] << ": " << merged.err;
    EXPECT_EQ(ReadBytes(complete_), complete) << format[1];
  }
}

// A night's file given LF line ends and saved by a spreadsheet (an empty Note
// on each monitor line): a merge writes it back in the batch's own form, and
// a resume, which would append lines of the other form, says what to mend.
TEST_F(BatchModesTest, AFileSavedInAnotherFormIsMergedInTheBatchsFormAndNotResumed) {
  const std::string fleet = CopyFleet();
  const std::string complete = Uninterrupted(fleet);
  std::filesystem::rename(fleet + "/DESIGN-03.reg", dir_.File("DESIGN-03.reg"));
  ASSERT_EQ(Batch({"--offline", fleet, kWorkstations, output_}).exitCode, 0);
  std::filesystem::rename(dir_.File("DESIGN-03.reg"), fleet + "/DESIGN-03.reg");
  std::string saved;
  for (const std::string& line : glimmora::testing::SplitResultLines(ReadBytes(output_)))
    saved += line + (glimmora::testing::ParseCsvLine(line).size() == 11 ? ",\n" : "\n");
  WriteBytes(output_, saved);

  const auto resumed = Batch({"--resume", "--offline", fleet, kWorkstations, output_});
  EXPECT_EQ(resumed.exitCode, 1);
  EXPECT_TRUE(Contains(resumed.err,
                       "line 1 ends in LF alone where this batch writes CR LF, so lines appended "
                       "to it would differ: convert its line ends back to CR LF (unix2dos), then "
                       "resume; the file is left as it is"))
      << resumed.err;
  EXPECT_EQ(ReadBytes(output_), saved);

  const auto merged = Batch({"--retry-from", output_, "--merge", "--offline", fleet, output_});
  EXPECT_EQ(merged.exitCode, 0) << merged.err;
  EXPECT_EQ(ReadBytes(output_), complete);
}

TEST_F(BatchModesTest, AFileThatIsNotThisRunsOutputIsRefusedAndLeftAsItIs) {
  const std::string fleet = CopyFleet();
  const std::string otherList = dir_.File("other.txt");
  WriteBytes(otherList, "HR-11\r\nHR-12\r\n");
  ASSERT_EQ(Batch({"--offline", fleet, otherList, output_}).exitCode, 0);
  const std::string other = ReadBytes(output_);
  const auto resumed = Batch({"--resume", "--offline", fleet, kWorkstations, output_});
  EXPECT_EQ(resumed.exitCode, 1);
  EXPECT_TRUE(Contains(resumed.err, "line 2 names HR-11 where INPUT's next workstation is ACCT-01"))
      << resumed.err;
  EXPECT_EQ(ReadBytes(output_), other);

  // A file another batch is writing (it holds the lock every batch takes).
  WriteBytes(output_, other.substr(0, other.size() - 5));
#ifdef _WIN32
  HANDLE held = CreateFileA(output_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
#else
  const int held = open(output_.c_str(), O_WRONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
#endif
  const auto locked = Batch({"--resume", "--offline", fleet, otherList, output_});
  // Nor does a merge put a file in its place.
  const std::string oldNight = dir_.File("old.csv");
  WriteBytes(oldNight, other);
  const auto mergeLocked =
      Batch({"--retry-from", oldNight, "--merge", "--offline", fleet, output_});
#ifdef _WIN32
  CloseHandle(held);
#else
  close(held);
#endif
  EXPECT_EQ(locked.exitCode, 1);
  EXPECT_TRUE(Contains(locked.err, "in use by another batch")) << locked.err;
  EXPECT_EQ(mergeLocked.exitCode, 1);
  EXPECT_TRUE(Contains(mergeLocked.err, "in use by another batch")) << mergeLocked.err;
  EXPECT_EQ(ReadBytes(output_), other.substr(0, other.size() - 5));

  const std::string foreign = "Host,Model,Serial\r\nPC1,U2720Q,7\r\n";
  WriteBytes(output_, foreign);
  const auto retried = Batch({"--retry-from", output_, "--merge", "--offline", fleet, output_});
  EXPECT_EQ(retried.exitCode, 1);
  EXPECT_TRUE(Contains(retried.err, "is not a Glimmora result file: line 1")) << retried.err;
  EXPECT_EQ(ReadBytes(output_), foreign);
}

TEST_F(BatchModesTest, TheFailuresOfANightAreExaminedAgainAndMergedWhenTheyAreBack) {
  const std::string fleet = CopyFleet();
  const std::string complete = Uninterrupted(fleet);
  const std::string aside = dir_.File("aside");
  std::filesystem::create_directory(aside);
  for (const char* name : {"DESIGN-03.reg", "HR-11.reg"})
    std::filesystem::rename(fleet + "/" + name, aside + "/" + name);

  const std::string summary = dir_.File("summary.json");
  const auto night = Batch({"--strict-exit", "--summary", "--summary-json", summary, "--offline",
                            fleet, kWorkstations, output_});
  EXPECT_EQ(night.exitCode, 3) << night.err;
  EXPECT_TRUE(Contains(night.err,
                       "Workstations examined: 14 (with monitors 9, without monitor "
                       "information 2, failed 3)"))
      << night.err;
  const std::string json = ReadBytes(summary);
  for (const char* count : {"\"examined\":14", "\"failed\":3", "\"registryRefusedOrUnreachable\":3",
                            "\"monitorsWritten\":14", "\"outcome\":\"finished\""})
    EXPECT_TRUE(Contains(json, count)) << count << " in " << json;

  for (const char* name : {"DESIGN-03.reg", "HR-11.reg"})
    std::filesystem::rename(aside + "/" + name, fleet + "/" + name);
  // Without --merge: the lines of the retried workstations alone, in OLD's order.
  const std::string retried = dir_.File("retried.csv");
  const auto retry = Batch({"--retry-from", output_, "--offline", fleet, retried});
  EXPECT_EQ(retry.exitCode, 0) << retry.err;
  const auto lines = glimmora::testing::SplitResultLines(complete);
  std::string expected = lines[0] + "\r\n";
  for (const std::string& line : lines) {
    for (const char* name : {"DESIGN-03,", "HR-11,", "GHOST-PC,"})
      if (line.rfind(name, 0) == 0) expected += line + "\r\n";
  }
  EXPECT_EQ(ReadBytes(retried), expected);

  // Without --merge, OLD itself is no OUTPUT: it would lose every other line.
  const std::string nightFile = ReadBytes(output_);
  EXPECT_EQ(Batch({"--retry-from", output_, "--offline", fleet, output_}).exitCode, 64);
  EXPECT_EQ(ReadBytes(output_), nightFile);

  // --merge onto OLD itself: the uninterrupted night, GHOST-PC still failing.
  const auto merged =
      Batch({"--retry-from", output_, "--merge", "--strict-exit", "--offline", fleet, output_});
  EXPECT_EQ(merged.exitCode, 3) << merged.err;
  EXPECT_EQ(ReadBytes(output_), complete);
  EXPECT_FALSE(std::filesystem::exists(output_ + ".glimmora-new"));
}

TEST_F(BatchModesTest, StandardInputAndOutputWithAByteOrderMark) {
  const std::string fleet = CopyFleet();
  const std::string complete = Uninterrupted(fleet);
  const auto piped =
      Batch({"--encoding", "utf-8-bom", "--offline", fleet, "-", "-"}, kWorkstations);
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_TRUE(Contains(piped.err, "The batch process has been finished.")) << piped.err;
  const std::string marked = kMark + Utf8(complete);
  EXPECT_EQ(piped.out, marked);

  // A marked file goes on with the mark, and is refused without it.
  WriteBytes(output_, marked.substr(0, marked.size() / 2));
  const auto unmarked = Batch({"--resume", "--offline", fleet, kWorkstations, output_});
  EXPECT_EQ(unmarked.exitCode, 1);
  EXPECT_TRUE(Contains(unmarked.err, "byte-order mark")) << unmarked.err;
  const auto resumed =
      Batch({"--resume", "--encoding", "utf-8-bom", "--offline", fleet, kWorkstations, output_});
  EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(ReadBytes(output_), marked);
}

}  // namespace
