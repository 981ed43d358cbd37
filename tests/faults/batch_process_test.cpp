// glimmora batch run as a process and treated roughly: Ctrl-C at any moment,
// inputs of 200,000 names and of one 100 MB line, a file system that fills up
// under it, and workstation names that try to leave the export directory.
#include <gtest/gtest.h>

#ifdef __linux__
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/python_csv_reader.h"
#include "tests/faults/export_writer.h"
#include "tests/faults/spawn.h"
#include "tests/support/batch_files.h"
#include "tests/support/edid_builder.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::Spawned;
using testing::TempDir;
using testing::WorkstationGroups;
using testing::WriteBytes;

const std::string kFleet = std::string(GLIMMORA_SOURCE_DIR) + "/examples/fleet";

// The sanitizer builds run the size tests at a tenth of their size: there they
// test the memory safety of the same paths, and the time and memory a
// sanitized program takes say little about the program.
#ifdef __SANITIZE_ADDRESS__
constexpr std::size_t kSizeDivisor = 10;
constexpr long kSanitizerMemoryKb = 512 * 1024;
#else
constexpr std::size_t kSizeDivisor = 1;
constexpr long kSanitizerMemoryKb = 0;
#endif
constexpr std::string_view kAborted = "The batch process has been aborted by user.";
constexpr std::string_view kWriteError = "Output file write error.";

class BatchProcessTest : public ::testing::Test {
 protected:
  testing::Ended RunBatch(const std::string& offline, const std::string& input,
                          const std::string& output) {
    Spawned batch(GLIMMORA_CLI_PATH, {"batch", "--offline", offline, input, output},
                  dir_.File("run"));
    const testing::Ended ended = batch.Wait();
    err_ = ReadBytes(batch.errPath());
    return ended;
  }

  // The names of the sample fleet and one without an export, `rounds` times over.
  std::string FleetList(int rounds) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(kFleet))
      names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    names.push_back("GHOST-PC");
    std::string list;
    for (int round = 0; round < rounds; ++round) {
      for (const std::string& name : names) list += name + "\n";
    }
    return list;
  }

  testing::ScopedEnv english_{"LC_ALL", "C"};
  TempDir dir_;
  std::string err_;
};

std::size_t CountOf(const std::string& text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(part); pos != std::string::npos;
       pos = text.find(part, pos + part.size()))
    ++count;
  return count;
}

// Ctrl-C while the batch runs, at moments spread over its run, one workstation
// at a time and eight at once: the program ends with 130 and the result is the
// beginning of the complete file, in whole workstations; or the batch was done
// first; or the signal came before the program was ready for it, when nothing
// may have been written, or after the program was done with the file.
TEST_F(BatchProcessTest, CtrlCAtAnyMomentLeavesWholeWorkstations) {
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  WriteBytes(input, FleetList(40));
  const testing::Ended full = RunBatch(kFleet, input, output);
  ASSERT_EQ(full.status, 0) << err_;
  const std::string complete = ReadBytes(output);
  const std::vector<std::string> groups = WorkstationGroups(complete);
  ASSERT_EQ(groups.size(), 1u + 13 * 40);

  for (const std::string jobs : {"1", "8"}) {
    const std::vector<std::string> args = {"batch", "--jobs", jobs,  "--offline",
                                           kFleet,  input,    output};
    Spawned timed(GLIMMORA_CLI_PATH, args, dir_.File("run"));
    const testing::Ended once = timed.Wait();
    ASSERT_EQ(once.status, 0) << ReadBytes(timed.errPath());
    ASSERT_EQ(ReadBytes(output), complete) << "--jobs " << jobs;
    const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(once.wallTime);

    int stopped = 0;
    int signaled = 0;
    int finished = 0;
    for (int step = 0; step <= 12; ++step) {
      SCOPED_TRACE("--jobs " + jobs + ", step " + std::to_string(step));
      WriteBytes(output, "last week's inventory\r\n");
      Spawned batch(GLIMMORA_CLI_PATH, args, dir_.File("run"));
      std::this_thread::sleep_for(runTime * step / 10);
      batch.Signal(SIGINT);
      const testing::Ended ended = batch.Wait();
      const std::string err = ReadBytes(batch.errPath());
      const std::string file = ReadBytes(output);
      if (ended.signaled) {
        // Before the program took Ctrl-C over, the old file is as it was;
        // after it gave it back at the end, the new one is complete.
        EXPECT_TRUE(file == "last week's inventory\r\n" || file == complete) << file.size();
        ++signaled;
        continue;
      }
      if (ended.status == 0) {
        EXPECT_EQ(file, complete);
        ++finished;
        continue;
      }
      ++stopped;
      EXPECT_EQ(ended.status, 130) << err;
      EXPECT_NE(err.find(kAborted), std::string::npos) << err;
      std::string expected;
      for (std::size_t i = 0; i < groups.size() && expected.size() < file.size(); ++i)
        expected += groups[i];
      EXPECT_EQ(file, expected);
      EXPECT_GE(file.size(), groups[0].size());
    }
    std::printf(
        "Ctrl-C with --jobs %s: %d ended by the signal (before or after the batch), %d "
        "stopped, %d finished\n",
        jobs.c_str(), signaled, stopped, finished);
    EXPECT_GT(stopped, 0) << "no signal arrived while the batch ran with --jobs " << jobs;
  }
}

// Standard error piped into a reader that has gone (`2>&1 | head -1`): the
// progress and the last message are lost, the batch and its file are not.
TEST_F(BatchProcessTest, ABrokenStandardErrorEndsNothing) {
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  WriteBytes(input, FleetList(40));
  ASSERT_EQ(RunBatch(kFleet, input, output).status, 0) << err_;
  const std::string complete = ReadBytes(output);
  std::remove(output.c_str());

  for (const char* jobs : {"1", "8"}) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);
    std::vector<std::string> args = {GLIMMORA_CLI_PATH, "batch", "--jobs", jobs,
                                     "--offline",       kFleet,  input,    output};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "--jobs " << jobs << ": ended by signal "
        << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    EXPECT_EQ(ReadBytes(output), complete) << "--jobs " << jobs;
  }
}

TEST_F(BatchProcessTest, TwoHundredThousandNames) {
  constexpr int kNames = 200000 / kSizeDivisor;
  std::string list;
  for (int i = 0; i < kNames; ++i) list += "pc" + std::to_string(100000 + i) + "\n";
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  WriteBytes(input, list);
  fs::create_directories(dir_.File("exports"));

  const testing::Ended ended = RunBatch(dir_.File("exports"), input, output);
  EXPECT_EQ(ended.status, 0) << err_;
  const std::string file = ReadBytes(output);
  EXPECT_EQ(CountOf(file, "\r\n"), static_cast<std::size_t>(kNames) + 1);
  EXPECT_NE(file.find("\r\nPC100000,,,,,,,,,,,Registry Open Error : Key=PC100000 Code=53 "),
            std::string::npos);
  const std::string last = "PC" + std::to_string(100000 + kNames - 1);
  EXPECT_NE(file.find("\r\n" + last + ",,,,,,,,,,,Registry Open Error : Key=" + last + " Code=53 "),
            std::string::npos);
  // Loose bounds: a few seconds and a few megabytes without sanitizers.
  EXPECT_LT(ended.wallTime, std::chrono::seconds(240));
  EXPECT_LT(ended.maxRssKb, 64 * 1024 + kSanitizerMemoryKb);
}

// One line of 100 MB: read, trimmed and cut once each, in memory a small
// multiple of the line, in time linear in it.
TEST_F(BatchProcessTest, OneLineOfOneHundredMegabytes) {
  constexpr std::size_t kLineBytes = 100 * 1000 * 1000 / kSizeDivisor;
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  {
    std::ofstream out(input, std::ios::binary);
    out << "pc01 ";
    const std::string chunk(1 << 20, 'x');
    for (std::size_t written = 5; written < kLineBytes; written += chunk.size()) out << chunk;
    out << "\npc02\n";
  }
  fs::create_directories(dir_.File("exports"));
  const testing::Ended ended = RunBatch(dir_.File("exports"), input, output);
  EXPECT_EQ(ended.status, 0) << err_;
  const std::vector<std::string> groups = WorkstationGroups(ReadBytes(output));
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[1].substr(0, 5), "PC01,");
  EXPECT_EQ(groups[2].substr(0, 5), "PC02,");
  EXPECT_LT(ended.wallTime, std::chrono::seconds(240));
  // About twice the line: the line as read and the growing string it was read into.
  EXPECT_LT(ended.maxRssKb, 4 * static_cast<long>(kLineBytes / 1024) + kSanitizerMemoryKb);
}

// The same with no delimiter at all: the name itself is 100 MB long. It
// cannot name an export, and its failure line carries it.
TEST_F(BatchProcessTest, ANameOfOneHundredMegabytes) {
  constexpr std::size_t kLineBytes = 100 * 1000 * 1000 / kSizeDivisor;
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  {
    std::ofstream out(input, std::ios::binary);
    const std::string chunk(1 << 20, 'y');
    for (std::size_t written = 0; written < kLineBytes; written += chunk.size()) out << chunk;
  }
  fs::create_directories(dir_.File("exports"));
  const testing::Ended ended = RunBatch(dir_.File("exports"), input, output);
  EXPECT_EQ(ended.status, 0) << err_;
  EXPECT_GT(fs::file_size(output), 2 * kLineBytes);
  EXPECT_LT(ended.wallTime, std::chrono::seconds(240));
  // About five times the line: the name as read and as kept, the message and
  // the result line that carry it (twice the line), each allocated once.
  EXPECT_LT(ended.maxRssKb, 8 * static_cast<long>(kLineBytes / 1024) + kSanitizerMemoryKb);
}

#ifdef GLIMMORA_TEST_REGISTRY_RPC
// Workstations whose registry connection stalls, each holding its sockets for
// the whole connect time-out: a listener on 445 that accepts no session, in a
// network namespace of the test's own (root).
class StalledConnectTest : public BatchProcessTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "a private network namespace needs root";
    if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "cannot make a network namespace here";
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(445);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener_, 1024), 0);
  }
  void TearDown() override {
    if (listener_ >= 0) close(listener_);
  }
  int listener_ = -1;
};

// With more jobs than the process may open files for, the run goes on with as
// many as fit, says so once, and no workstation is blamed for the shortage.
TEST_F(StalledConnectTest, TooFewFilesForTheJobsLowerThemAndBlameNoWorkstation) {
  constexpr int kNames = 30;
  std::string list;
  for (int i = 0; i < kNames; ++i) list += "127.0.0.1\n";
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  WriteBytes(input, list);
  const std::string command = "ulimit -n 64 && exec " + std::string(GLIMMORA_CLI_PATH) +
                              " batch --jobs 300 --connect-timeout 1 -U tester%secret " + input +
                              " " + output;
  Spawned batch("/bin/sh", {"-c", command}, dir_.File("run"));
  const testing::Ended ended = batch.Wait();
  const std::string err = ReadBytes(batch.errPath());
  EXPECT_EQ(ended.status, 0) << err;
  EXPECT_EQ(CountOf(err, "--jobs 300 lowered to "), 1u) << err;
  const std::vector<std::string> lines = testing::SplitResultLines(ReadBytes(output));
  ASSERT_EQ(lines.size(), kNames + 1u);
  for (std::size_t i = 1; i < lines.size(); ++i)
    EXPECT_EQ(lines[i].rfind("127.0.0.1,,,,,,,,,,,Registry Open Error : Key=127.0.0.1 Code=53 ", 0),
              0u)
        << lines[i];
}
#endif

// A small file system of its own, mounted for the test; root only.
class FullDiskTest : public BatchProcessTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    fs::create_directories(mountPoint_);
    if (mount("glimmora-test", mountPoint_.c_str(), "tmpfs", 0, "size=256k") != 0)
      GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    mounted_ = true;
  }
  void TearDown() override {
    if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
  }

  // Fills the file system up to `room` bytes left over.
  void FillLeaving(std::size_t room) {
    std::ofstream filler(mountPoint_ + "/filler", std::ios::binary);
    const std::string chunk(4096, 'f');
    while (fs::space(mountPoint_).available > room + chunk.size() &&
           filler.write(chunk.data(), 4096))
      filler.flush();
  }

  std::string mountPoint_ = dir_.File("small");
  bool mounted_ = false;
};

TEST_F(FullDiskTest, TheBatchStopsWithAWriteErrorAndKeepsWhatWasWritten) {
  const std::string input = dir_.File("list.txt");
  WriteBytes(input, FleetList(20));
  const testing::Ended full = RunBatch(kFleet, input, dir_.File("complete.csv"));
  ASSERT_EQ(full.status, 0) << err_;
  const std::string complete = ReadBytes(dir_.File("complete.csv"));

  FillLeaving(24 * 1024);
  ASSERT_GT(complete.size(), fs::space(mountPoint_).available * 2);
  const std::string output = mountPoint_ + "/inventory.csv";
  const testing::Ended ended = RunBatch(kFleet, input, output);
  EXPECT_EQ(ended.status, 1);
  EXPECT_NE(err_.find(std::string(kWriteError) + " " + output + ": No space left on device"),
            std::string::npos)
      << err_;
  const std::string file = ReadBytes(output);
  // Everything that reached the disk is what a roomy disk got, from the start.
  EXPECT_GT(file.size(), WorkstationGroups(complete).front().size());
  EXPECT_LT(file.size(), complete.size());
  EXPECT_EQ(file, complete.substr(0, file.size()));
}

TEST_F(FullDiskTest, NoRoomEvenForTheHeader) {
  const std::string input = dir_.File("list.txt");
  WriteBytes(input, FleetList(1));
  FillLeaving(0);
  std::ofstream(mountPoint_ + "/more", std::ios::binary) << std::string(8192, 'm');
  const testing::Ended ended = RunBatch(kFleet, input, mountPoint_ + "/inventory.csv");
  EXPECT_EQ(ended.status, 1);
  EXPECT_NE(err_.find(kWriteError), std::string::npos) << err_;
}

// Names read from the list reach the offline back end as they are (upper
// case): none may open an export outside the directory, and every one gets
// its failure line, which reads back as twelve fields.
TEST_F(BatchProcessTest, HostileNamesStayInTheExportDirectory) {
  testing::ExportWriter secret;
  testing::EdidSpec spec;
  spec.model = "SECRET";
  spec.serial = "S-SECRET";
  secret.Monitor("SEC0001", "1", testing::MakeEdid(spec), "outside");
  ASSERT_TRUE(secret.Save(dir_.File("SECRET.reg")));
  ASSERT_TRUE(secret.Save(dir_.File("A.reg")));
  fs::create_directories(dir_.File("exports"));

  const std::vector<std::string> names = {"a/../SECRET",
                                          "a\\..\\SECRET",
                                          "a/../../../../../../" + dir_.File("SECRET").substr(1),
                                          "a\x01"
                                          "b",
                                          "pc\x1b[2J",
                                          "pc\x7f",
                                          "pc\xff\xfe",
                                          "pc\xe3\x81",
                                          "pc\xc0\xae\xc0\xae",
                                          "pc\rsecret",
                                          "a..",
                                          "CON",
                                          "nul.txt",
                                          "COM1",
                                          std::string(300, 'z')};
  std::string list;
  for (const std::string& name : names) list += name + "\n";
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  WriteBytes(input, list);

  const testing::Ended ended = RunBatch(dir_.File("exports"), input, output);
  EXPECT_EQ(ended.status, 0) << err_;
  const std::string file = ReadBytes(output);
  EXPECT_EQ(file.find("S-SECRET"), std::string::npos);
  const auto records = fuzz::ReadCsvLikePython(file);
  ASSERT_TRUE(records.has_value());
  ASSERT_EQ(records->size(), names.size() + 1);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::vector<std::string>& fields = (*records)[i + 1];
    ASSERT_EQ(fields.size(), 12u) << names[i];
    EXPECT_EQ(fields[0].size(), names[i].size()) << names[i];
    EXPECT_EQ(fields[11].rfind("Registry Open Error : Key=", 0), 0u) << fields[11];
  }
}

}  // namespace
}  // namespace glimmora
#endif  // __linux__
