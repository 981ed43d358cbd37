// A password given on the command line (-U USER%PASSWORD) is not in the
// process list while the program runs, nor in what it writes.
#include <gtest/gtest.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/faults/spawn.h"
#include "tests/support/batch_files.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::ReadBytes;

constexpr std::string_view kPassword = "Pw-9f3Secret";

// Every spelling of the option, and the password holding what a shell or a
// parser might trip over. An empty list stands for -A FILE over the network:
// the credentials are then read and resolved before the input is opened.
std::vector<std::vector<std::string>> Spellings() {
  const std::string user = "GLIMTEST\\reader%" + std::string(kPassword);
  return {{"-U", user},
          {"-U" + user},
          {"--user", user},
          {"--user=" + user},
          {"-U", "reader%" + std::string(kPassword) + "%with%percents"},
          {}};
}

// The write end of `fifo`, once a reader has it open; -1 after 30 s without.
int OpenWriterOnceRead(const std::string& fifo) {
  int writer = -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (writer < 0 && std::chrono::steady_clock::now() < deadline) {
    writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return writer;
}

TEST(SecretsTest, PasswordIsNotInTheProcessListOrTheOutput) {
  testing::ScopedEnv english{"LC_ALL", "C"};
  glimmora::testing::TempDir dir;
  std::filesystem::create_directories(dir.File("exports"));
  const std::string authenticationFile = dir.File("reader.auth");
  {
    const std::string text = "username = reader\npassword = " + std::string(kPassword) + "\n";
    const int fd = open(authenticationFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
  }
  for (const std::vector<std::string>& spelling : Spellings()) {
    const bool network = spelling.empty();
    const std::vector<std::string> logon =
        network ? std::vector<std::string>{"-A", authenticationFile} : spelling;
    // The input is a pipe: the worker waits on it while the test looks.
    const std::string fifo = dir.File("list.fifo");
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string output = dir.File("inventory.csv");
    std::vector<std::string> args = {"batch"};
    if (!network) args.insert(args.end(), {"--offline", dir.File("exports")});
    args.insert(args.end(), logon.begin(), logon.end());
    args.push_back(fifo);
    args.push_back(output);
    testing::Spawned batch(GLIMMORA_CLI_PATH, args, dir.File("run"));
    ASSERT_GT(batch.pid(), 0);

    // A writer can open the pipe once the worker has opened it to read,
    // long after the arguments were read.
    const int writer = OpenWriterOnceRead(fifo);
    ASSERT_GE(writer, 0) << "the batch did not open its input";
    const std::string commandLine = ReadBytes("/proc/" + std::to_string(batch.pid()) + "/cmdline");
    EXPECT_NE(commandLine.find("batch"), std::string::npos);
    EXPECT_EQ(commandLine.find(kPassword), std::string::npos) << logon.back();
    EXPECT_EQ(commandLine.find("percents"), std::string::npos) << logon.back();
    // The user name stays: the process list may say who is logging on.
    if (!network) EXPECT_NE(commandLine.find("reader%"), std::string::npos);

    // Over the network no workstation is listed: nothing leaves this machine.
    const std::string names = network ? "" : "pc01\n";
    EXPECT_EQ(write(writer, names.data(), names.size()), static_cast<ssize_t>(names.size()));
    close(writer);
    const testing::Ended ended = batch.Wait();
    EXPECT_EQ(ended.status, 0) << ReadBytes(batch.errPath());
    if (!network) EXPECT_NE(ReadBytes(output).find("PC01,"), std::string::npos);
    EXPECT_EQ(ReadBytes(output).find(kPassword), std::string::npos);
    EXPECT_EQ(ReadBytes(batch.errPath()).find(kPassword), std::string::npos);
    EXPECT_EQ(ReadBytes(batch.outPath()).find(kPassword), std::string::npos);
  }
}

// A process that holds a password is kept out of core dumps. The system shows
// it in the owner of /proc/PID: a dumpable process owns its entries, one that
// is not leaves them to root. So the program runs as nobody here.
TEST(SecretsTest, AProcessHoldingAPasswordCannotBeDumped) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  testing::ScopedEnv english{"LC_ALL", "C"};
  glimmora::testing::TempDir dir;
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
  // A copy the other user can reach whatever the checkout's permissions.
  const std::string program = dir.File("glimmora");
  std::filesystem::copy_file(GLIMMORA_CLI_PATH, program);
  std::filesystem::create_directories(dir.File("exports"));
  const std::string fifo = dir.File("list.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
  for (const bool withPassword : {false, true}) {
    std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups",   program,
                                     "batch",         "--offline",     dir.File("exports")};
    if (withPassword) args.insert(args.end(), {"-U", "reader%" + std::string(kPassword)});
    args.insert(args.end(), {fifo, dir.File("inventory.csv")});
    testing::Spawned batch("/usr/bin/setpriv", args, dir.File(withPassword ? "with" : "without"));
    ASSERT_GT(batch.pid(), 0);
    const int writer = OpenWriterOnceRead(fifo);
    ASSERT_GE(writer, 0) << "the batch did not open its input: " << ReadBytes(batch.errPath());
    struct stat status {};
    ASSERT_EQ(stat(("/proc/" + std::to_string(batch.pid()) + "/status").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, withPassword ? 0u : 65534u) << (withPassword ? "with" : "without");
    close(writer);
    EXPECT_EQ(batch.Wait().status, 0) << ReadBytes(batch.errPath());
  }
}

}  // namespace
}  // namespace glimmora
#endif  // __linux__
