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
#include "tests/batch/fleet_golden.h"
#include "tests/support/batch_files.h"
#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"
#include "tests/support/time_zone.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/faults/spawn.h"
#endif

namespace {

using glimmora::testing::ReadBytes;
using glimmora::testing::WriteBytes;

using glimmora::testing::kSourceDir;
const std::string kWorkstations = kSourceDir + "/examples/workstations.txt";
constexpr const char* kMark = "\xEF\xBB\xBF";

using glimmora::testing::Contains;

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

// OLD's failures for the merge cases: DESIGN-03 and HR-11 fail for want of
// their exports, then come back; GHOST-PC never does.
class MergeTest : public BatchModesTest {
 protected:
  void SetUp() override {
    fleet_ = CopyFleet();
    complete_ = Uninterrupted(fleet_);
    const std::string aside = dir_.File("aside");
    std::filesystem::create_directory(aside);
    for (const char* name : {"DESIGN-03.reg", "HR-11.reg"})
      std::filesystem::rename(fleet_ + "/" + name, aside + "/" + name);
    ASSERT_EQ(Batch({"--offline", fleet_, kWorkstations, output_}).exitCode, 0);
    night_ = ReadBytes(output_);
    for (const char* name : {"DESIGN-03.reg", "HR-11.reg"})
      std::filesystem::rename(aside + "/" + name, fleet_ + "/" + name);
  }
  std::string fleet_;
  std::string complete_;
  std::string night_;
};

// A name the input reader would skip (a hand-edited line) is examined as OLD
// names it and shifts no other result; the file merged in place keeps its
// mode, owner and group, a link to it stays a link to the merged file, and no
// list of failed workstations is left in the temporary folder.
TEST_F(MergeTest, AMergeUpdatesTheFileItselfAndMatchesResultsByName) {
  const std::size_t header = night_.find("\r\n") + 2;
  const std::size_t ghost = night_.find("GHOST-PC,");
  const std::string spare =
      "-SPARE" + night_.substr(ghost + 8, night_.find("\r\n", ghost) + 2 - ghost - 8);
  WriteBytes(output_, night_.substr(0, header) + spare + night_.substr(header));
  const std::string temp = dir_.File("tmp");
  std::filesystem::create_directory(temp);
  glimmora::testing::ScopedEnv tmpdir("TMPDIR", temp);
  glimmora::testing::ScopedEnv tmp("TMP", temp);
  std::string target = output_;
#ifndef _WIN32
  ASSERT_EQ(chmod(output_.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(output_.c_str(), 65534, 65534), 0);
  }
  target = dir_.File("inventory-link.csv");
  std::filesystem::create_symlink(output_, target);
#endif
  const auto merged = Batch({"--retry-from", target, "--merge", "--offline", fleet_, target});
  EXPECT_EQ(merged.exitCode, 0) << merged.err;
  EXPECT_EQ(ReadBytes(output_), complete_.substr(0, header) + spare + complete_.substr(header));
  EXPECT_TRUE(std::filesystem::is_empty(temp));
#ifndef _WIN32
  EXPECT_TRUE(std::filesystem::is_symlink(target));
  struct stat status {};
  ASSERT_EQ(stat(output_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(status.st_uid, 65534u);
    EXPECT_EQ(status.st_gid, 65534u);
  }
#endif
}

// The lines a resume keeps count as if this run had written them: a resumed
// night with failures says so in its counts and its exit status.
TEST_F(MergeTest, AResumedRunCountsTheFailuresItKept) {
  const std::string summary = dir_.File("summary.json");
  const std::string uncut = night_;
  for (std::size_t cut : {uncut.size() / 2, uncut.size() - 1, uncut.size()}) {
    WriteBytes(output_, uncut.substr(0, cut));
    std::filesystem::rename(fleet_ + "/DESIGN-03.reg", dir_.File("DESIGN-03.reg"));
    std::filesystem::rename(fleet_ + "/HR-11.reg", dir_.File("HR-11.reg"));
    const auto resumed = Batch({"--resume", "--strict-exit", "--summary-json", summary, "--offline",
                                fleet_, kWorkstations, output_});
    std::filesystem::rename(dir_.File("DESIGN-03.reg"), fleet_ + "/DESIGN-03.reg");
    std::filesystem::rename(dir_.File("HR-11.reg"), fleet_ + "/HR-11.reg");
    EXPECT_EQ(resumed.exitCode, 3) << "cut " << cut << ": " << resumed.err;
    EXPECT_EQ(ReadBytes(output_), uncut) << "cut " << cut;
    EXPECT_TRUE(Contains(ReadBytes(summary),
                         "\"examined\":14,\"withMonitors\":9,\"withoutMonitorInformation\":2,"
                         "\"failed\":3,"))
        << "cut " << cut << ": " << ReadBytes(summary);
  }
}

// A JSON lines file an editor gave a byte-order mark is read; what a retry
// and a merge write has none, so that every line is JSON.
TEST_F(MergeTest, JsonLinesAreWrittenWithoutAByteOrderMark) {
  const std::string json = dir_.File("night.jsonl");
  std::filesystem::rename(fleet_ + "/HR-11.reg", dir_.File("HR-11.reg"));
  ASSERT_EQ(Batch({"--format", "jsonl", "--offline", fleet_, kWorkstations, json}).exitCode, 0);
  std::filesystem::rename(dir_.File("HR-11.reg"), fleet_ + "/HR-11.reg");
  WriteBytes(json, kMark + ReadBytes(json));
  const std::string retried = dir_.File("retried.jsonl");
  const auto retry =
      Batch({"--format", "jsonl", "--retry-from", json, "--offline", fleet_, retried});
  EXPECT_EQ(retry.exitCode, 0) << retry.err;
  EXPECT_EQ(ReadBytes(retried).rfind("{\"workstation\":\"HR-11\"", 0), 0u) << ReadBytes(retried);
  const auto merge =
      Batch({"--format", "jsonl", "--retry-from", json, "--merge", "--offline", fleet_, json});
  EXPECT_EQ(merge.exitCode, 0) << merge.err;
  EXPECT_EQ(ReadBytes(json).rfind("{\"workstation\":\"ACCT-01\"", 0), 0u);
}

// Options and operands that do not go together are refused with the reason
// (64) before a file is read or written; --summary-json never takes the place
// of another operand, through a link neither.
TEST_F(BatchModesTest, OperandsThatClashAreRefusedBeforeAnythingIsTouched) {
  const std::string fleet = CopyFleet();
  const std::string list = dir_.File("list.txt");
  WriteBytes(list, "acct-01\r\n");
  WriteBytes(output_, "yesterday's inventory");
  const std::string missing = dir_.File("new.csv");
  std::string link = output_;
#ifndef _WIN32
  link = dir_.File("link.csv");
  std::filesystem::create_symlink(output_, link);
#endif
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--summary-json", output_, list, output_}, "is OUTPUT"},
      {{"--summary-json", link, list, output_}, "is OUTPUT"},
      {{"--summary-json", list, list, output_}, "is INPUT"},
      {{"--summary-json", missing, list, missing}, "is OUTPUT"},
      {{"--summary-json", output_, "--resume", list, output_}, "is OUTPUT"},
      {{"--summary-json", output_, "--retry-from", output_, "--merge", output_}, "is OLD"},
      {{"--summary-json", "-", list, "-"}, "--summary-json - would put the counts"},
      {{"--resume", "--retry-from", output_, output_}, "give one of them"},
      {{"--merge", list, output_}, "--merge goes with --retry-from OLD"},
      {{"--resume", "-", output_}, "--resume needs INPUT and OUTPUT to be files"},
      {{"--retry-from", "-", output_}, "--retry-from needs OLD to be a file"},
      {{"--retry-from", output_, list, output_}, "give OUTPUT only"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--offline", fleet};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto run = Batch(args);
    EXPECT_EQ(run.exitCode, 64) << c.says;
    EXPECT_TRUE(Contains(run.err, c.says)) << run.err;
    EXPECT_EQ(ReadBytes(output_), "yesterday's inventory") << c.says;
    EXPECT_EQ(ReadBytes(list), "acct-01\r\n") << c.says;
    EXPECT_FALSE(std::filesystem::exists(missing)) << c.says;
  }
  // A run refused after its start leaves its own counts, not an earlier run's.
  const std::string summary = dir_.File("summary.json");
  WriteBytes(summary, "{\"outcome\":\"finished\",\"examined\":14}\n");
  const auto refused =
      Batch({"--resume", "--summary-json", summary, "--offline", fleet, list, output_});
  EXPECT_EQ(refused.exitCode, 1) << refused.err;
  EXPECT_TRUE(Contains(ReadBytes(summary), "{\"outcome\":\"failed\",\"examined\":0,"))
      << ReadBytes(summary);
}

#ifndef _WIN32
// A result on standard output that cannot be written ends with 74, as every
// command's standard output does.
TEST_F(BatchModesTest, AStandardOutputThatCannotBeWrittenEndsWith74) {
  const std::string fleet = CopyFleet();
  const auto full =
      glimmora::testing::RunProcess("/bin/sh",
                                    {"-c", "exec \"$0\" batch --offline \"$1\" \"$2\" - >/dev/full",
                                     GLIMMORA_CLI_PATH, fleet, kWorkstations},
                                    dir_.File("full"));
  EXPECT_EQ(full.exitCode, 74) << full.err;
  EXPECT_TRUE(Contains(full.err, "standard output: No space left on device")) << full.err;
}

// An interrupted run of a list is resumed only with that list: a name added
// next to one of its kind would otherwise pass for one already examined.
TEST_F(BatchModesTest, AResumeWithAnotherListThanTheInterruptedRunIsRefused) {
  const std::string fleet = CopyFleet();
  const std::string list = dir_.File("long.txt");
  std::string names;
  for (int i = 0; i < 400; ++i) names += "acct-01\nacct-02\nhr-12\nlaptop-07\nsrv-build09\n";
  WriteBytes(list, names);
  glimmora::testing::Spawned night(GLIMMORA_CLI_PATH, {"batch", "--offline", fleet, list, output_},
                                   dir_.File("night"));
  const std::string record = output_ + ".glimmora-run";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(record) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  night.Signal(SIGINT);
  ASSERT_EQ(night.Wait().status, 130) << "the run ended before it could be interrupted";
  const std::string interrupted = ReadBytes(output_);

  WriteBytes(list, "acct-01\n" + names);
  const auto refused = Batch({"--resume", "--offline", fleet, list, output_});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Contains(refused.err, "INPUT is not the list it was begun with")) << refused.err;
  EXPECT_EQ(ReadBytes(output_), interrupted);

  WriteBytes(list, names);
  const auto resumed = Batch({"--resume", "--offline", fleet, list, output_});
  EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_FALSE(std::filesystem::exists(record));
  const auto whole = Batch({"--offline", fleet, list, complete_});
  EXPECT_EQ(ReadBytes(output_), ReadBytes(complete_));
}
#endif

}  // namespace
