// The display scan and `glimmora check` over the Remote Registry protocol,
// against the loopback Samba server, compared with the offline back end
// reading the same data from the export the server was filled from.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "inventory/offline/registry_offline.h"
#include "inventory/registry/registry_network.h"
#include "inventory/registry/registry_scan.h"
#include "inventory/rpc/registry_rpc.h"
#include "inventory/system_messages.h"
#include "tests/rpc/test_server.h"
#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::ServerDir;

using namespace std::chrono_literals;

const std::string kDisplayExport = std::string(GLIMMORA_TEST_DATA_DIR) + "/rpc/display.reg";

// The user the server lets read its registry, as the -A file names it.
NetworkRegistryOptions AdminLogon() {
  NetworkRegistryOptions options;
  options.username = "glimmora-reg";
  options.domain = "GLIMTEST";
  options.password = "Reader-pw-1";
  options.connectTimeout = 5s;
  return options;
}

// Every row the scan gives for a workstation, each as one line, sorted: the
// server lists subkeys in its own order, which is not what is compared.
struct ScanResult {
  int connect = 0;
  std::string error;
  std::vector<std::string> rows;
};

ScanResult ScanAll(RegistryAccess& registry, const std::string& workstation) {
  ScanResult result;
  RegKey root = kNoKey;
  std::vector<std::string> deviceIds;
  result.connect = ConnectRemoteRegistry(registry, workstation, &root, &deviceIds, &result.error);
  if (result.connect != 0) return result;
  for (const std::string& id : deviceIds) {
    MonitorTable table;
    std::string error;
    EXPECT_EQ(ScanDisplayMonitors(registry, root, id, table, &error), 0) << error;
    for (std::size_t i = 0; i < table.RowCount(); ++i) {
      result.rows.push_back(id + "|" + table.deviceClass[i] + "|" + table.description[i] + "|" +
                            table.mfg[i] + "|" + table.hardwareId[i] + "|" + table.model[i] + "|" +
                            table.serialNumber[i] + "|" + table.monitorSize[i] + "|" +
                            table.mfgDate[i] + "|" + table.edidVersion[i]);
    }
  }
  registry.RegCloseKey(root);
  std::sort(result.rows.begin(), result.rows.end());
  return result;
}

// A directory holding the export under the name the offline back end looks for.
class ExportDirectory {
 public:
  explicit ExportDirectory(const std::string& workstation)
      : path_(::testing::TempDir() + "glimmora-rpc-" + std::to_string(getpid())) {
    std::filesystem::create_directories(path_);
    std::filesystem::copy_file(kDisplayExport, path_ + "/" + workstation + ".reg",
                               std::filesystem::copy_options::overwrite_existing);
  }
  ~ExportDirectory() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class RemoteScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerDir().empty()) << "GLIMMORA_SAMBA_DIR is not set: run through ctest";
  }
  testing::ScopedEnv english_{"LANG", "C"};
  testing::ScopedEnv noLcAll_{"LC_ALL"};
  testing::ScopedEnv noLcMessages_{"LC_MESSAGES"};
};

TEST_F(RemoteScanTest, SameRowsAsTheOfflineBackEndForTheSameData) {
  std::unique_ptr<RegistryAccess> network = CreateNetworkRegistry(AdminLogon());
  const ScanResult remote = ScanAll(*network, "127.0.0.1");
  ASSERT_EQ(remote.connect, 0) << remote.error;

  ExportDirectory exports("127.0.0.1");
  OfflineRegistry offline(exports.path());
  const ScanResult local = ScanAll(offline, "127.0.0.1");
  ASSERT_EQ(local.connect, 0) << local.error;

  EXPECT_EQ(remote.rows, local.rows);
  // What the data holds: five instances (EDID blocks of 128, 256 and 384
  // bytes, decoded from their base block); the instance without "Device
  // Parameters" gives five "<UNKNOWN>" cells; the Japanese description and
  // the first string of a multi-string hardware ID.
  ASSERT_EQ(remote.rows.size(), 5u);
  const std::string all = [&] {
    std::string joined;
    for (const std::string& row : remote.rows) joined += row + "\n";
    return joined;
  }();
  EXPECT_NE(all.find("GLM1234|Monitor|汎用 PnP モニター|(Standard monitor types)|MONITOR\\GLM1234|"
                     "GLM Wide 27|SN-0002|"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("|MONITOR\\GLM9ABC|GLM Mini|SN-0004|"), std::string::npos) << all;
  EXPECT_NE(all.find("|GLM Big 32|SN-0003|"), std::string::npos) << all;
  EXPECT_EQ(std::count(all.begin(), all.end(), '<'), 5) << all;  // one row of five
}

// The texts a user reads for each way a workstation cannot be opened.
TEST_F(RemoteScanTest, ErrorTextsNameTheWorkstationCodeAndCause) {
  struct Case {
    const char* what;
    NetworkRegistryOptions logon;
    const char* workstation;
    std::string expected;
  };
  NetworkRegistryOptions wrongPassword = AdminLogon();
  wrongPassword.password = "not-the-password";
  NetworkRegistryOptions denied = AdminLogon();
  denied.username = "glimmora-noreg";
  denied.password = "Denied-pw-1";
  const Case cases[] = {
      {"wrong password", wrongPassword, "127.0.0.1",
       "Registry Open Error : Key=127.0.0.1 Code=1326 Desc=The user name or password is "
       "incorrect."},
      {"user without rights", denied, "127.0.0.1",
       "Registry Open Error : Key=127.0.0.1 Code=5 Desc=Access is denied. (Only administrators "
       "of the workstation may use its Remote Registry service.)"},
      {"nothing listening", AdminLogon(), "127.0.0.2",
       "Registry Open Error : Key=127.0.0.2 Code=53 Desc=The network path was not found."},
  };
  for (const Case& c : cases) {
    std::unique_ptr<RegistryAccess> network = CreateNetworkRegistry(c.logon);
    const ScanResult result = ScanAll(*network, c.workstation);
    EXPECT_EQ(result.connect, -1) << c.what;
    EXPECT_EQ(result.error, c.expected) << c.what;
  }

  testing::ScopedEnv japanese("LANG", "ja_JP.UTF-8");
  std::unique_ptr<RegistryAccess> network = CreateNetworkRegistry(wrongPassword);
  EXPECT_EQ(ScanAll(*network, "127.0.0.1").error,
            "レジストリのオープンエラー : Key=127.0.0.1 Code=1326 "
            "Desc=ユーザー名またはパスワードが正しくありません。");
}

TEST_F(RemoteScanTest, SilentPeerEndsAtTheConnectTimeout) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(445);
  where.sin_addr.s_addr = htonl(0x7F000004);  // 127.0.0.4
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);
  ASSERT_EQ(::listen(fd, 4), 0);  // accepts, and never answers

  NetworkRegistryOptions logon = AdminLogon();
  logon.connectTimeout = 1s;
  std::unique_ptr<RegistryAccess> network = CreateNetworkRegistry(logon);
  const auto start = std::chrono::steady_clock::now();
  const ScanResult result = ScanAll(*network, "127.0.0.4");
  const auto took = std::chrono::steady_clock::now() - start;
  ::close(fd);
  EXPECT_EQ(result.error,
            "Registry Open Error : Key=127.0.0.4 Code=53 Desc=The network path was not found.");
  EXPECT_GE(took, 900ms);
  EXPECT_LT(took, 3s);
}

// Runs `net` on the server's own configuration (its registry is a file).
testing::ProcessResult Net(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-s", ServerDir() + "/smb.conf", "registry"};
  all.insert(all.end(), args.begin(), args.end());
  return testing::RunProcess("/usr/bin/net", all,
                             ::testing::TempDir() + "glimmora-net-" + std::to_string(getpid()));
}

TEST_F(RemoteScanTest, MissingDisplayKeyIsFileNotFound) {
  // The key is taken away for this test only and put back from the export.
  ASSERT_EQ(Net({"deletekey_recursive", "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY"}).exitCode,
            0);
  std::unique_ptr<RegistryAccess> network = CreateNetworkRegistry(AdminLogon());
  const ScanResult result = ScanAll(*network, "127.0.0.1");
  const testing::ProcessResult restored = Net({"import", kDisplayExport});
  EXPECT_EQ(restored.exitCode, 0) << restored.err;
  EXPECT_EQ(result.connect, -1);
  EXPECT_EQ(result.error,
            "Registry Open Error : Key=127.0.0.1 Code=2 Desc=The system cannot find the file "
            "specified.");
  EXPECT_EQ(ScanAll(*network, "127.0.0.1").connect, 0);
}

// glimmora check over the network and on the export give the same listing.
TEST_F(RemoteScanTest, CheckCommandListsTheSameAsOffline) {
  ExportDirectory exports("127.0.0.1");
  const std::string scratch = ::testing::TempDir() + "glimmora-check-" + std::to_string(getpid());
  const testing::ProcessResult offline = testing::RunProcess(
      GLIMMORA_CLI_PATH, {"check", "--offline", exports.path(), "--format", "csv", "127.0.0.1"},
      scratch);
  ASSERT_EQ(offline.exitCode, 0) << offline.err;
  for (const char* format : {"csv", "table"}) {
    const testing::ProcessResult remote =
        testing::RunProcess(GLIMMORA_CLI_PATH,
                            {"check", "-A", ServerDir() + "/auth-admin.txt", "--connect-timeout",
                             "5", "--format", format, "127.0.0.1"},
                            scratch);
    EXPECT_EQ(remote.exitCode, 0) << remote.err;
    const testing::ProcessResult expected = testing::RunProcess(
        GLIMMORA_CLI_PATH, {"check", "--offline", exports.path(), "--format", format, "127.0.0.1"},
        scratch);
    EXPECT_EQ(remote.out, expected.out) << format;
  }

  const testing::ProcessResult wrong = testing::RunProcess(
      GLIMMORA_CLI_PATH, {"check", "-U", "GLIMTEST\\glimmora-reg%wrong", "127.0.0.1"}, scratch);
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_EQ(wrong.err,
            "Registry Open Error : Key=127.0.0.1 Code=1326 Desc=The user name or password is "
            "incorrect.\n");
}

// glimmora batch over the network and on the export write the same file; a
// workstation whose registry cannot be reached gets its line with the code.
TEST_F(RemoteScanTest, BatchCommandWritesTheSameAsOffline) {
  ExportDirectory exports("127.0.0.1");
  const std::string base = exports.path() + "/";
  const auto writeInput = [&](const std::string& name, const std::string& text) {
    std::FILE* f = std::fopen((base + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
  };
  writeInput("one.txt", "127.0.0.1\n");
  writeInput("two.txt", "127.0.0.1\n127.0.0.2\n");
  const std::string scratch = base + "run";
  const testing::ProcessResult offline = testing::RunProcess(
      GLIMMORA_CLI_PATH,
      {"batch", "--offline", exports.path(), base + "one.txt", base + "offline.csv"}, scratch);
  ASSERT_EQ(offline.exitCode, 0) << offline.err;
  const testing::ProcessResult remote = testing::RunProcess(
      GLIMMORA_CLI_PATH,
      {"batch", "-A", ServerDir() + "/auth-admin.txt", base + "one.txt", base + "remote.csv"},
      scratch);
  ASSERT_EQ(remote.exitCode, 0) << remote.err;
  const std::string expected = testing::ReadWholeFile(base + "offline.csv");
  EXPECT_NE(expected.find("GLM Wide 27"), std::string::npos) << expected;
  EXPECT_EQ(testing::ReadWholeFile(base + "remote.csv"), expected);

  // Presence from the Control keys, the same over the network as in the export:
  // GLM Wide 27 is the ghost, its neighbour under GLM1234 is plugged in.
  for (const std::vector<std::string>& layout :
       {std::vector<std::string>{"--columns", "extended"},
        std::vector<std::string>{"--format", "jsonl", "--present-only"}}) {
    std::vector<std::string> offlineArgs = {"batch", "--offline", exports.path()};
    std::vector<std::string> remoteArgs = {"batch", "-A", ServerDir() + "/auth-admin.txt"};
    for (auto* args : {&offlineArgs, &remoteArgs}) {
      args->insert(args->end(), layout.begin(), layout.end());
      args->insert(args->end(),
                   {base + "one.txt", base + (args == &remoteArgs ? "r.out" : "o.out")});
      const testing::ProcessResult run = testing::RunProcess(GLIMMORA_CLI_PATH, *args, scratch);
      ASSERT_EQ(run.exitCode, 0) << run.err;
    }
    const std::string written = testing::ReadWholeFile(base + "r.out");
    EXPECT_EQ(written, testing::ReadWholeFile(base + "o.out")) << layout[1];
    if (layout[1] == "extended") {
      EXPECT_NE(written.find(",GLM,1234,yes,GLM Vista 24,SN-0001,descriptor,no,0,"),
                std::string::npos)
          << written;
      EXPECT_NE(written.find(",GLM,1234,no,GLM Wide 27,SN-0002,descriptor,no,0,manufacture,valid"),
                std::string::npos)
          << written;
    } else {
      EXPECT_EQ(written.find("GLM Wide 27"), std::string::npos) << written;
      EXPECT_NE(written.find("\"model\":\"GLM Big 32\""), std::string::npos) << written;
    }
  }

  const testing::ProcessResult both = testing::RunProcess(
      GLIMMORA_CLI_PATH,
      {"batch", "--connect-timeout", "3", "-U", "GLIMTEST\\glimmora-reg%Reader-pw-1",
       base + "two.txt", base + "both.csv"},
      scratch);
  ASSERT_EQ(both.exitCode, 0) << both.err;
  const std::string lines = testing::ReadWholeFile(base + "both.csv");
  EXPECT_EQ(lines.rfind(expected, 0), 0u) << lines;  // the first workstation as before
  EXPECT_NE(lines.find("127.0.0.2"), std::string::npos) << lines;
  EXPECT_NE(lines.find("Code=53 Desc=The network path was not found."), std::string::npos) << lines;
}

// A wrong password is tried on two workstations in a row and then no more,
// so that a domain's lockout policy does not lock the account.
TEST_F(RemoteScanTest, BatchStopsLoggingOnAfterRepeatedLogonFailures) {
  ExportDirectory exports("unused");
  const std::string base = exports.path() + "/";
  std::FILE* f = std::fopen((base + "fleet.txt").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("127.0.0.1\n127.0.0.2\n127.0.0.1\n127.0.0.1\n127.0.0.1\n", f);
  std::fclose(f);
  const auto run = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"batch", "-U", "GLIMTEST\\glimmora-reg%wrong"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(base + "fleet.txt");
    args.push_back(base + "out.csv");
    return testing::RunProcess(GLIMMORA_CLI_PATH, args, base + "run");
  };
  const std::string failed = "Code=1326 Desc=The user name or password is incorrect.";
  const std::string stopped =
      "Code=1235 Desc=The request was aborted. (The batch stopped logging on after repeated "
      "logon failures.)";

  testing::ProcessResult result = run({});
  EXPECT_EQ(result.exitCode, 4) << result.err;
  EXPECT_NE(result.err.find("stopped logging on as GLIMTEST\\glimmora-reg after 2 logon "
                            "failures in a row"),
            std::string::npos)
      << result.err;
  std::string lines = testing::ReadWholeFile(base + "out.csv");
  // An unreachable workstation between them is no logon at all.
  std::vector<std::string> notes;
  for (std::size_t at = lines.find("\r\n"); at != std::string::npos;) {
    const std::size_t next = lines.find("\r\n", at + 2);
    if (next == std::string::npos) break;
    notes.push_back(lines.substr(at + 2, next - at - 2));
    at = next;
  }
  ASSERT_EQ(notes.size(), 5u) << lines;
  EXPECT_NE(notes[0].find(failed), std::string::npos) << notes[0];
  EXPECT_NE(notes[1].find("Code=53 "), std::string::npos) << notes[1];
  EXPECT_NE(notes[2].find(failed), std::string::npos) << notes[2];
  EXPECT_NE(notes[3].find(stopped), std::string::npos) << notes[3];
  EXPECT_NE(notes[4].find(stopped), std::string::npos) << notes[4];

  result = run({"--max-logon-failures", "0"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  lines = testing::ReadWholeFile(base + "out.csv");
  EXPECT_EQ(lines.find("Code=1235"), std::string::npos) << lines;
  result = run({"--max-logon-failures", "x"});
  EXPECT_EQ(result.exitCode, 64);
}

}  // namespace
}  // namespace glimmora
