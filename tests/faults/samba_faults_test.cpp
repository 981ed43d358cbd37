// A real Samba server dying in the middle of a scan. Each test runs its own
// server in a network namespace of its own, so that it can kill it without
// disturbing the server the Remote Registry tests share on the host's
// loopback. Linux, root and the samba package.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fuzz/python_csv_reader.h"
#include "tests/faults/private_samba.h"
#include "tests/faults/spawn.h"
#include "tests/support/batch_files.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

constexpr int kDevices = 3;
constexpr int kInstancesPerDevice = 400;

// A version 5 export of many monitors, as `net registry import` takes it.
std::string LargeDisplayExport() {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
  const std::string display = "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY";
  text += display + "]\r\n\r\n";
  char hex[8];
  for (int device = 0; device < kDevices; ++device) {
    const std::string id = "BIG000" + std::to_string(device);
    for (int i = 0; i < kInstancesPerDevice; ++i) {
      const std::string key = display + "\\" + id + "\\inst" + std::to_string(i);
      text += key + "]\r\n\"Mfg\"=\"(Standard monitor types)\"\r\n\"DeviceDesc\"=\"Big " +
              std::to_string(i) + "\"\r\n\"Class\"=\"Monitor\"\r\n\r\n";
      text += key + "\\Device Parameters]\r\n\"EDID\"=hex:";
      // A name and a serial descriptor; nothing else matters here.
      std::vector<unsigned char> edid(128, 0);
      const std::string name = "BIG\n";
      const std::string serial = id + "-" + std::to_string(i) + "\n";
      edid[72 + 3] = 0xFC;
      edid[90 + 3] = 0xFF;
      for (std::size_t k = 0; k < name.size(); ++k) edid[72 + 5 + k] = name[k];
      for (std::size_t k = 0; k < serial.size() && k < 13; ++k) edid[90 + 5 + k] = serial[k];
      for (std::size_t b = 0; b < edid.size(); ++b) {
        std::snprintf(hex, sizeof hex, b == 0 ? "%02x" : ",%02x", edid[b]);
        text += hex;
      }
      text += "\r\n\r\n";
    }
  }
  std::string wide = "\xFF\xFE";
  for (char c : text) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  return wide;
}

// The processes whose parent is `parent`.
std::set<pid_t> Children(pid_t parent) {
  std::set<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // pid (comm) state ppid ...: the command may hold blanks and parentheses.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
      children.insert(static_cast<pid_t>(std::stoi(name)));
  }
  return children;
}

class SambaFaultTest : public testing::PrivateSambaTest {
 protected:
  std::string DisplayExport() override { return LargeDisplayExport(); }

  void SetUp() override {
    PrivateSambaTest::SetUp();
    if (!Ready()) return;
    serverPid_ = std::stoi(ReadBytes(serverDir_ + "/pid/smbd.pid"));
  }
  // Runs the program and kills the server process that serves its connection
  // once the scan has gone on for `after`; the children of smbd that exist
  // before the program starts are its own helpers.
  testing::Ended RunAndKillConnection(const std::vector<std::string>& args,
                                      std::chrono::milliseconds after, std::string* out,
                                      std::string* err, bool* killed) {
    const std::set<pid_t> helpers = Children(serverPid_);
    testing::Spawned program(GLIMMORA_CLI_PATH, args, dir_.File("run"));
    *killed = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!*killed && std::chrono::steady_clock::now() < deadline) {
      for (pid_t child : Children(serverPid_)) {
        if (helpers.count(child) != 0) continue;
        std::this_thread::sleep_for(after);
        *killed = kill(child, SIGKILL) == 0;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const testing::Ended ended = program.Wait();
    *out = ReadBytes(program.outPath());
    *err = ReadBytes(program.errPath());
    return ended;
  }

  std::vector<std::string> Logon() const { return {"-A", serverDir_ + "/auth-admin.txt"}; }

  testing::ScopedEnv english_{"LC_ALL", "C"};
  pid_t serverPid_ = 0;
};

TEST_F(SambaFaultTest, ACheckCutOffByTheServerFailsAndListsNothing) {
  std::vector<std::string> args = {"check", "--format", "csv"};
  for (const std::string& arg : Logon()) args.push_back(arg);
  args.push_back("127.0.0.1");
  std::string out;
  std::string err;
  bool killed = false;
  const testing::Ended ended =
      RunAndKillConnection(args, std::chrono::milliseconds(300), &out, &err, &killed);
  ASSERT_TRUE(killed) << "the connection was not seen: " << err;
  if (ended.status == 0) GTEST_SKIP() << "the scan was done before the server died";
  EXPECT_EQ(ended.status, 2) << err;
  EXPECT_EQ(out, "");
  // Samba's library may say its own line first (a cut during the bind).
  const std::string ours = "Registry Open Error : Key=";
  EXPECT_TRUE(err.rfind(ours, 0) == 0 || err.find("\n" + ours) != std::string::npos) << err;
}

// The workstation whose server died gets its failure line; the batch goes on
// and the next one, served by a new server process, is listed whole.
TEST_F(SambaFaultTest, TheBatchWritesAFailureLineAndGoesOn) {
  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  glimmora::testing::WriteBytes(input, "127.0.0.1\nlocalhost\n");
  std::vector<std::string> args = {"batch"};
  for (const std::string& arg : Logon()) args.push_back(arg);
  args.push_back(input);
  args.push_back(output);
  std::string out;
  std::string err;
  bool killed = false;
  const testing::Ended ended =
      RunAndKillConnection(args, std::chrono::milliseconds(300), &out, &err, &killed);
  ASSERT_TRUE(killed) << err;
  EXPECT_EQ(ended.status, 0) << err;

  const auto records = fuzz::ReadCsvLikePython(ReadBytes(output));
  ASSERT_TRUE(records.has_value());
  std::size_t first = 0;
  std::size_t second = 0;
  for (std::size_t i = 1; i < records->size(); ++i) {
    const std::vector<std::string>& fields = (*records)[i];
    if (fields[0] == "127.0.0.1") {
      ++first;
      if (first == 1 && fields.size() == 12) {
        EXPECT_EQ(fields[11].rfind("Registry Open Error : Key=", 0), 0u) << fields[11];
      }
    } else {
      EXPECT_EQ(fields[0], "LOCALHOST");
      EXPECT_EQ(fields.size(), 11u);
      ++second;
    }
  }
  // One failure line, or (when the server died after the scan) every monitor.
  EXPECT_TRUE(first == 1 || first == kDevices * kInstancesPerDevice) << first;
  EXPECT_EQ(second, static_cast<std::size_t>(kDevices * kInstancesPerDevice));
}

// A logon that fails goes through Samba with the password: neither the
// program's messages nor the library's may repeat it.
TEST_F(SambaFaultTest, AWrongPasswordIsNotRepeatedAnywhere) {
  const std::string password = "Wrong-5ecret-pw";
  const std::string user = "GLIMTEST\\glimmora-reg%" + password;
  testing::Spawned check(GLIMMORA_CLI_PATH, {"check", "-U", user, "127.0.0.1"}, dir_.File("check"));
  const testing::Ended checked = check.Wait();
  const std::string checkErr = ReadBytes(check.errPath());
  EXPECT_EQ(checked.status, 2) << checkErr;
  EXPECT_NE(checkErr.find("Code=1326"), std::string::npos) << checkErr;
  EXPECT_EQ(checkErr.find(password), std::string::npos) << checkErr;
  EXPECT_EQ(ReadBytes(check.outPath()).find(password), std::string::npos);

  const std::string input = dir_.File("list.txt");
  const std::string output = dir_.File("inventory.csv");
  glimmora::testing::WriteBytes(input, "127.0.0.1\n");
  testing::Spawned batch(GLIMMORA_CLI_PATH, {"batch", "-U", user, input, output},
                         dir_.File("batch"));
  const testing::Ended ended = batch.Wait();
  EXPECT_EQ(ended.status, 0) << ReadBytes(batch.errPath());
  const std::string file = ReadBytes(output);
  EXPECT_NE(file.find("127.0.0.1,,,,,,,,,,,Registry Open Error : Key=127.0.0.1 Code=1326 "),
            std::string::npos)
      << file;
  EXPECT_EQ(file.find(password), std::string::npos);
  EXPECT_EQ(ReadBytes(batch.errPath()).find(password), std::string::npos);
}

}  // namespace
}  // namespace glimmora
