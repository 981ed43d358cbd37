// `glimmora batch` as a user runs it: the sample fleet, the exit statuses and
// the messages, and (on Linux) Ctrl-C in the middle of a batch.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/python_csv_reader.h"
#include "tests/batch/fleet_golden.h"
#include "tests/support/batch_files.h"
#include "tests/support/scoped_env.h"
#include "tests/support/time_zone.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

using glimmora::testing::ReadBytes;
using glimmora::testing::TempDir;
using glimmora::testing::WriteBytes;

using glimmora::testing::kSourceDir;

struct CommandResult {
  int status = -1;
  std::string err;
};

// A started program whose standard error goes to a file.
class Process {
 public:
  Process(const std::vector<std::string>& args, const std::string& errPath) {
#ifdef _WIN32
    std::string commandLine = "\"" GLIMMORA_CLI_PATH "\"";
    for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = err;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    started_ = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              nullptr, &startup, &process);
    CloseHandle(err);
    if (started_) {
      CloseHandle(process.hThread);
      process_ = process.hProcess;
    }
#else
    std::vector<char*> argv;
    std::string program = GLIMMORA_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    started_ = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
#endif
  }

  bool started() const {
    return started_;
  }

  // The exit status; 128 + the signal when a signal ended it.
  int Wait() {
#ifdef _WIN32
    if (!started_) return -1;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    CloseHandle(process_);
    started_ = false;
    return static_cast<int>(code);
#else
    int status = 0;
    if (!started_ || waitpid(pid_, &status, 0) != pid_) return -1;
    started_ = false;
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
#endif
  }

#ifndef _WIN32
  void Signal(int number) {
    kill(pid_, number);
  }
  pid_t pid() const {
    return pid_;
  }
#endif

 private:
  bool started_ = false;
#ifdef _WIN32
  HANDLE process_ = nullptr;
#else
  pid_t pid_ = -1;
#endif
};

class BatchCommandTest : public ::testing::Test {
 protected:
  CommandResult RunBatch(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"batch"};
    all.insert(all.end(), args.begin(), args.end());
    Process process(all, errPath_);
    EXPECT_TRUE(process.started());
    CommandResult run;
    run.status = process.Wait();
    run.err = ReadBytes(errPath_);
    return run;
  }

  glimmora::testing::ScopedEnv english_{"LC_ALL", "C"};
  glimmora::testing::ScopedTimeZone utc_{glimmora::testing::kZoneUtc};
  TempDir dir_;
  std::string errPath_ = dir_.File("stderr.txt");
  std::string outputPath_ = dir_.File("inventory.csv");
};

using glimmora::testing::Contains;

TEST_F(BatchCommandTest, WritesTheSampleInventory) {
  const CommandResult run = RunBatch({"--offline", kSourceDir + "/examples/fleet/",
                                      kSourceDir + "/examples/workstations.txt", outputPath_});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err, "The batch process has been finished.")) << run.err;
  EXPECT_EQ(glimmora::testing::WithoutSourceDirectory(ReadBytes(outputPath_)),
            glimmora::testing::ExpectedFleetInventory());
}

TEST_F(BatchCommandTest, SeveralJobsWriteTheSameInventory) {
  for (const char* jobs : {"4", "32"}) {
    const CommandResult run =
        RunBatch({"--jobs", jobs, "--timeout", "30", "--offline", kSourceDir + "/examples/fleet/",
                  kSourceDir + "/examples/workstations.txt", outputPath_});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "The batch process has been finished.")) << run.err;
    EXPECT_EQ(glimmora::testing::WithoutSourceDirectory(ReadBytes(outputPath_)),
              glimmora::testing::ExpectedFleetInventory())
        << "--jobs " << jobs;
  }
}

// Each text of the program is followed by the file and the system's reason.
TEST_F(BatchCommandTest, FileFailuresNameTheFileAndTheReasonAndExitWithOne) {
  WriteBytes(outputPath_, "kept\r\n");
  const std::string missing = dir_.File("missing.txt");
  CommandResult run = RunBatch({"--offline", dir_.path().string(), missing, outputPath_});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(
      Contains(run.err, "Input file open error. " + missing + ": No such file or directory"))
      << run.err;
  EXPECT_EQ(ReadBytes(outputPath_), "kept\r\n");

  const std::string directory = dir_.path().string();
  run = RunBatch({"--offline", directory, directory, outputPath_});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "Input file open error. " + directory + ": Is a directory"))
      << run.err;
  EXPECT_EQ(ReadBytes(outputPath_), "kept\r\n");

  const std::string input = dir_.File("workstations.txt");
  WriteBytes(input, "pc01\n");
  const std::string unwritable = dir_.File("no-such-directory/inventory.csv");
  run = RunBatch({"--offline", directory, input, unwritable});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(
      Contains(run.err, "Output file open error. " + unwritable + ": No such file or directory"))
      << run.err;
  run = RunBatch({"--offline", directory, input, directory});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "Output file open error. " + directory + ": Is a directory"))
      << run.err;
#ifdef __linux__
  // The reason comes through the conversion of a UTF-8 file too.
  for (const char* encoding : {"ansi", "utf-8", "utf-8-bom"}) {
    run = RunBatch({"--encoding", encoding, "--offline", directory, input, "/dev/full"});
    EXPECT_EQ(run.status, 1) << encoding;
    EXPECT_TRUE(Contains(run.err, "Output file write error. /dev/full: No space left on device"))
        << encoding << ": " << run.err;
  }
#endif
}

// Each byte of an ASCII text as a UTF-16 code unit.
std::string Utf16FromAscii(std::string_view text, bool bigEndian) {
  std::string bytes;
  for (char c : text) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}

// A list saved as "Unicode" (UTF-16 with its byte-order mark) or as UTF-8
// with a mark gives the inventory the plain list gives. One that holds NUL
// bytes otherwise (UTF-16 that lost its mark) is refused, naming the file,
// and the output stays as it was.
TEST_F(BatchCommandTest, ListsSavedAsUnicodeGiveTheSameInventory) {
  const std::string list = ReadBytes(kSourceDir + "/examples/workstations.txt");
  ASSERT_FALSE(list.empty());
  const std::string input = dir_.File("workstations.txt");
  const struct {
    const char* what;
    std::string bytes;
  } encodings[] = {
      {"UTF-16 LE", "\xFF\xFE" + Utf16FromAscii(list, false)},
      {"UTF-16 BE", "\xFE\xFF" + Utf16FromAscii(list, true)},
      {"UTF-8", "\xEF\xBB\xBF" + list},
  };
  for (const auto& encoding : encodings) {
    WriteBytes(input, encoding.bytes);
    const CommandResult run =
        RunBatch({"--offline", kSourceDir + "/examples/fleet/", input, outputPath_});
    EXPECT_EQ(run.status, 0) << encoding.what << ": " << run.err;
    EXPECT_EQ(glimmora::testing::WithoutSourceDirectory(ReadBytes(outputPath_)),
              glimmora::testing::ExpectedFleetInventory())
        << encoding.what;
  }

  WriteBytes(outputPath_, "kept\r\n");
  WriteBytes(input, Utf16FromAscii(list, false));
  const CommandResult run =
      RunBatch({"--offline", kSourceDir + "/examples/fleet/", input, outputPath_});
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "Input file open error. " + input + ": the list holds NUL bytes"))
      << run.err;
  EXPECT_EQ(ReadBytes(outputPath_), "kept\r\n");
}

TEST_F(BatchCommandTest, UsageErrorsExitWithTheUsageStatus) {
  const std::string input = dir_.File("workstations.txt");
  WriteBytes(input, "pc01\n");
  EXPECT_EQ(RunBatch({}).status, 64);
  EXPECT_EQ(RunBatch({input}).status, 64);
  EXPECT_EQ(RunBatch({input, outputPath_, "third"}).status, 64);
  EXPECT_EQ(RunBatch({"--fast", input, outputPath_}).status, 64);
  const CommandResult run = RunBatch({"--offline", dir_.File("no-such-fleet"), input, outputPath_});
  EXPECT_EQ(run.status, 64);
  EXPECT_TRUE(Contains(run.err, "no-such-fleet")) << run.err;
  EXPECT_EQ(RunBatch({"   ", outputPath_}).status, 64);
  for (const char* jobs : {"0", "-3", "1025", "many", "4x"}) {
    const CommandResult bad = RunBatch({"--jobs", jobs, input, outputPath_});
    EXPECT_EQ(bad.status, 64) << jobs;
    EXPECT_TRUE(Contains(bad.err, "--jobs")) << bad.err;
  }
  for (const char* timeout : {"-1", "soon", "0.0001", "1e9"}) {
    const CommandResult bad = RunBatch({"--timeout", timeout, input, outputPath_});
    EXPECT_EQ(bad.status, 64) << timeout;
    EXPECT_TRUE(Contains(bad.err, "--timeout")) << bad.err;
  }
  EXPECT_EQ(RunBatch({input, outputPath_, "--jobs"}).status, 64);
  EXPECT_FALSE(std::filesystem::exists(outputPath_));
}

std::vector<glimmora::fuzz::CsvRecord> ReadCsv(const std::string& path) {
  auto records = glimmora::fuzz::ReadCsvLikePython(ReadBytes(path));
  EXPECT_TRUE(records.has_value()) << path;
  return records.value_or(std::vector<glimmora::fuzz::CsvRecord>{});
}

// The opt-in outputs on the sample fleet: extended columns after the
// specified ones, the same monitors as JSON lines read back by a JSON parser,
// ghosts left out under --present-only, and a broken pnp.ids only warned of.
TEST_F(BatchCommandTest, ExtendedColumnsJsonLinesAndPresentOnlyOnTheSampleFleet) {
  const std::string fleet = kSourceDir + "/examples/fleet/";
  const std::string list = kSourceDir + "/examples/workstations.txt";
  const std::string pnpIds = dir_.File("pnp.ids");
  WriteBytes(pnpIds, "DEL\tDell Inc.\nGSM\tLG Electronics\nACI\tAncor Communications Inc\n");
  ASSERT_EQ(RunBatch({"--offline", fleet, list, dir_.File("plain.csv")}).status, 0);
  const auto specified = ReadCsv(dir_.File("plain.csv"));

  CommandResult run = RunBatch({"--columns", "extended", "--pnp-ids", pnpIds, "--offline", fleet,
                                list, dir_.File("extended.csv")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(Contains(run.err, "warning")) << run.err;
  const auto extended = ReadCsv(dir_.File("extended.csv"));
  ASSERT_EQ(extended.size(), specified.size());
  ASSERT_EQ(extended[0].size(), 24u);
  EXPECT_EQ(extended[0][11], "Maker");
  EXPECT_EQ(extended[0][22], "Monitor Key");
  EXPECT_EQ(extended[0][23], "Note");
  // Monitor lines by workstation, Monitor ID and inventory serial.
  std::map<std::string, std::vector<std::string>> bySerial;
  for (std::size_t i = 1; i < extended.size(); ++i) {
    if (specified[i].size() == 11) {
      // The specified fields first, unchanged; twelve more after them.
      ASSERT_EQ(extended[i].size(), 23u) << i;
      EXPECT_EQ(std::vector<std::string>(extended[i].begin(), extended[i].begin() + 11),
                specified[i]);
      bySerial[extended[i][0] + "/" + extended[i][1] + "/" + extended[i][16]] = extended[i];
    } else {
      ASSERT_EQ(extended[i].size(), 24u) << i;
      EXPECT_EQ(extended[i].front(), specified[i].front());
      EXPECT_EQ(extended[i].back(), specified[i].back());
    }
  }
  // DELL S3222HN: plugged in, named by the list; the LG 24MB35 with the
  // maker of our own list over pnp.ids; the ghost of HR-12.
  const auto& dell = bySerial["ACCT-01/DELD11D/2NQHQD3"];
  ASSERT_FALSE(dell.empty());
  EXPECT_EQ(std::vector<std::string>(dell.begin() + 11, dell.end()),
            (std::vector<std::string>{"Dell Inc.", "DEL", "D11D", "yes", "DELL S3222HN", "2NQHQD3",
                                      "descriptor", "no", "825840726", "manufacture", "valid",
                                      "DEL-D11D-S:2NQHQD3"}));
  int ghosts = 0;
  for (const auto& [key, line] : bySerial) ghosts += line[14] == "no";
  EXPECT_EQ(ghosts, 2);

  run = RunBatch({"--format", "jsonl", "--pnp-ids", pnpIds, "--offline", fleet, list,
                  dir_.File("inventory.jsonl")});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string jsonLines = ReadBytes(dir_.File("inventory.jsonl"));
  std::set<std::string> monitors;
  std::map<std::string, std::string> reasons;
  std::size_t start = 0;
  for (std::size_t end; (end = jsonLines.find('\n', start)) != std::string::npos; start = end + 1) {
    const nlohmann::json object = nlohmann::json::parse(jsonLines.substr(start, end - start));
    if (object.contains("reason")) {
      reasons[object["workstation"]] = object["reason"];
      continue;
    }
    const std::string key =
        object["workstation"].get<std::string>() + "/" + object["monitorId"].get<std::string>() +
        "/" +
        (object["inventorySerial"].is_null() ? "<UNKNOWN>"
                                             : object["inventorySerial"].get<std::string>());
    monitors.insert(key);
    const auto& line = bySerial[key];
    ASSERT_EQ(line.size(), 23u) << object.dump();
    EXPECT_EQ(object["monitorId"], line[1]);
    EXPECT_EQ(object["model"].is_null() ? "<UNKNOWN>" : object["model"].get<std::string>(),
              line[6]);
    EXPECT_EQ(object["maker"], line[11]);
    EXPECT_EQ(object["present"], line[14]);
    EXPECT_EQ(std::to_string(object["idSerial"].get<unsigned long>()), line[19]);
    EXPECT_EQ(object["monitorKey"], line[22]);
  }
  EXPECT_EQ(start, jsonLines.size());
  EXPECT_EQ(monitors.size(), bySerial.size());
  EXPECT_EQ(reasons, (std::map<std::string, std::string>{{"GHOST-PC", "registry-unreachable"},
                                                         {"LAPTOP-06", "no-monitors"},
                                                         {"SRV-BUILD09", "no-monitors"}}));

  // The ghosts' lines go; LAPTOP-07 has nothing left but its nameless panel.
  WriteBytes(pnpIds, "not a list\n");
  run = RunBatch({"--present-only", "--columns", "extended", "--pnp-ids", pnpIds, "--offline",
                  fleet, list, dir_.File("present.csv")});
  ASSERT_EQ(run.status, 0) << run.err;
#ifndef _WIN32
  // Under Wine the warning is printed (by hand: glimmora-cli.exe) but missing
  // from what this harness captures; not yet understood.
  EXPECT_TRUE(Contains(run.err, pnpIds + " line 1: not a PNP ID line")) << run.err;
#endif
  const auto present = ReadCsv(dir_.File("present.csv"));
  EXPECT_EQ(present.size(), extended.size() - 1);
  for (std::size_t i = 1; i < present.size(); ++i) {
    if (present[i].size() != 23) continue;
    EXPECT_EQ(present[i][14], "yes");
    // Without the list: codes alone, but ACI and BNQ from our own list.
    if (present[i][12] == "DEL" || present[i][12] == "GSM") {
      EXPECT_EQ(present[i][11], present[i][12]);
    }
  }
  EXPECT_TRUE(
      Contains(ReadBytes(dir_.File("present.csv")), "LAPTOP-07 has No monitor information."));
}

#ifndef _WIN32
// Whether a thread of the process waits in a read of a pipe, by the kernel's
// word for where it sleeps; nullopt where the kernel does not say.
std::optional<bool> BlockedReadingPipe(pid_t pid) {
  bool known = false;
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    const std::string wchan = ReadBytes((task.path() / "wchan").string());
    if (wchan.find("pipe_read") != std::string::npos) return true;
    known = known || (!wchan.empty() && wchan != "0");
  }
  if (!known) return std::nullopt;
  return false;
}

// The input is a pipe the test writes to; the batch is interrupted while its
// worker waits for the next line, after the first workstation.
class InterruptTest : public BatchCommandTest {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);  // a program that ended early fails the test, not ends it
    ASSERT_EQ(mkfifo(input_.c_str(), 0600), 0);
    process_ = std::make_unique<Process>(
        std::vector<std::string>{"batch", "--offline", kSourceDir + "/examples/fleet", input_,
                                 outputPath_},
        errPath_);
    ASSERT_TRUE(process_->started());
    fifo_ = open(input_.c_str(), O_WRONLY);  // waits for the worker to open it
    ASSERT_GE(fifo_, 0);
    Write("# first floor\nacct-01\n");
    // A running thread shows no word at all, so one is awaited as well.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool kernelSays = false;
    for (;;) {
      const std::optional<bool> blocked = BlockedReadingPipe(process_->pid());
      kernelSays = kernelSays || blocked.has_value();
      if (blocked.value_or(false)) break;
      if (std::chrono::steady_clock::now() > deadline) {
        if (!kernelSays) GTEST_SKIP() << "the kernel does not show where threads wait";
        FAIL() << "the worker did not come to wait for the next line";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  void TearDown() override {
    if (fifo_ >= 0) close(fifo_);
    if (process_ && process_->started()) process_->Wait();
  }

  bool Write(const std::string& bytes) {
    return write(fifo_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  void Interrupt() {
    process_->Signal(SIGINT);
    // Time for the handler to run; the worker goes on waiting meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }

  std::string input_ = dir_.File("workstations.fifo");
  std::unique_ptr<Process> process_;
  int fifo_ = -1;
};

TEST_F(InterruptTest, TheFirstStopsTheBatchAndKeepsFinishedWorkstations) {
  Interrupt();
  // Said at once, not when the worker next looks at the request.
  EXPECT_TRUE(Contains(ReadBytes(errPath_), "glimmora batch: stopping")) << ReadBytes(errPath_);
  EXPECT_TRUE(Write("acct-02\nhr-11\n"));
  close(fifo_);
  fifo_ = -1;

  EXPECT_EQ(process_->Wait(), 130);
  const std::string err = ReadBytes(errPath_);
  EXPECT_TRUE(Contains(err, "The batch process has been aborted by user.")) << err;
  const std::vector<std::string> lines =
      glimmora::testing::SplitResultLines(ReadBytes(outputPath_));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1].substr(0, 16), "ACCT-01,DELD11D,");
  EXPECT_EQ(lines[2].substr(0, 16), "ACCT-01,GSM5A49,");
}

// The lines of a finished workstation are on disk as soon as it is done, so
// the second Ctrl-C, which ends the program at once, keeps them.
TEST_F(InterruptTest, TheSecondEndsTheProgramAndKeepsFinishedWorkstations) {
  Interrupt();
  process_->Signal(SIGINT);
  EXPECT_EQ(process_->Wait(), 128 + SIGINT);
  const std::vector<std::string> lines =
      glimmora::testing::SplitResultLines(ReadBytes(outputPath_));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2].substr(0, 16), "ACCT-01,GSM5A49,");
}

// The terminal closed (SIGHUP) stops the batch as Ctrl-C does.
TEST_F(InterruptTest, AHangUpStopsTheBatchAsCtrlCDoes) {
  process_->Signal(SIGHUP);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_TRUE(Write("acct-02\n"));
  close(fifo_);
  fifo_ = -1;
  EXPECT_EQ(process_->Wait(), 130);
  EXPECT_EQ(glimmora::testing::SplitResultLines(ReadBytes(outputPath_)).size(), 3u);
}

// A second batch on the file the first is writing is refused, naming the
// file, before it empties it; the first goes on and finishes its file.
TEST_F(InterruptTest, ASecondBatchOnTheSameOutputIsRefusedAndChangesNothing) {
  const std::string before = ReadBytes(outputPath_);
  ASSERT_EQ(glimmora::testing::SplitResultLines(before).size(), 3u);
  const std::string input = dir_.File("other.txt");
  WriteBytes(input, "hr-11\n");
  Process second({"batch", "--offline", kSourceDir + "/examples/fleet", input, outputPath_},
                 dir_.File("second.txt"));
  EXPECT_EQ(second.Wait(), 1);
  const std::string err = ReadBytes(dir_.File("second.txt"));
  EXPECT_TRUE(Contains(err, "Output file open error. " + outputPath_ + ": in use by another batch"))
      << err;
  EXPECT_EQ(ReadBytes(outputPath_), before);

  EXPECT_TRUE(Write("acct-02\n"));
  close(fifo_);
  fifo_ = -1;
  EXPECT_EQ(process_->Wait(), 0);
  const std::string after = ReadBytes(outputPath_);
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_GT(after.size(), before.size());
}

// A merge reads OLD only when no batch writes it, and holds it from then on:
// begun while the night's batch still writes OLD, it is refused before it
// examines anything, and the night's lines all stay.
TEST_F(InterruptTest, AMergeOfAFileABatchStillWritesIsRefusedBeforeItBegins) {
  EXPECT_TRUE(Write("ghost-pc\n"));  // a failure for the merge to try again
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (glimmora::testing::SplitResultLines(ReadBytes(outputPath_)).size() < 4u &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string summary = dir_.File("merge.json");
  Process merge({"batch", "--retry-from", outputPath_, "--merge", "--summary-json", summary,
                 "--offline", kSourceDir + "/examples/fleet", outputPath_},
                dir_.File("merge.txt"));
  EXPECT_EQ(merge.Wait(), 1);
  const std::string err = ReadBytes(dir_.File("merge.txt"));
  EXPECT_TRUE(Contains(err, outputPath_ + ": in use by another batch")) << err;
  EXPECT_TRUE(Contains(ReadBytes(summary), "\"examined\":0,")) << ReadBytes(summary);

  EXPECT_TRUE(Write("acct-02\n"));
  close(fifo_);
  fifo_ = -1;
  EXPECT_EQ(process_->Wait(), 0);
  const std::vector<std::string> lines =
      glimmora::testing::SplitResultLines(ReadBytes(outputPath_));
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3].substr(0, 9), "GHOST-PC,");
  EXPECT_EQ(lines[4].substr(0, 8), "ACCT-02,");
}

// An interrupted run records what shapes its lines; a resume with other
// options is refused naming the option, before it changes the file.
TEST_F(InterruptTest, AResumeWithOtherOptionsThanTheInterruptedRunIsRefused) {
  Interrupt();
  close(fifo_);
  fifo_ = -1;
  ASSERT_EQ(process_->Wait(), 130);
  const std::string before = ReadBytes(outputPath_);
  const std::string list = dir_.File("list.txt");
  WriteBytes(list, "acct-01\nacct-02\n");
  for (const auto& [option, says] :
       {std::pair<std::string, std::string>{"--present-only", "--present-only"},
        {"--encoding=utf-8", "--encoding ansi, this run has --encoding utf-8"}}) {
    Process resume({"batch", "--resume", option, "--offline", kSourceDir + "/examples/fleet", list,
                    outputPath_},
                   dir_.File("resume.txt"));
    EXPECT_EQ(resume.Wait(), 1) << option;
    const std::string err = ReadBytes(dir_.File("resume.txt"));
    EXPECT_TRUE(Contains(err, says)) << err;
    EXPECT_EQ(ReadBytes(outputPath_), before) << option;
  }
  Process resume(
      {"batch", "--resume", "--offline", kSourceDir + "/examples/fleet", list, outputPath_},
      dir_.File("resume.txt"));
  EXPECT_EQ(resume.Wait(), 0) << ReadBytes(dir_.File("resume.txt"));
  EXPECT_FALSE(std::filesystem::exists(outputPath_ + ".glimmora-run"));
}
#endif

}  // namespace
