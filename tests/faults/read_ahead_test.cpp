// The display subtree read ahead over several pipes against a real Samba
// server whose keys are planted to fail, compared with the same scan made
// call by call; a link that breaks in the middle of a wave; extra pipes the
// server refuses. Each test runs its own server in a network namespace of its
// own. Linux, root and the samba package.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "inventory/registry/registry_scan.h"
#include "inventory/rpc/registry_rpc.h"
#include "tests/faults/private_samba.h"
#include "tests/faults/spawn.h"
#include "tests/support/batch_files.h"

namespace glimmora {
namespace {

using namespace std::chrono_literals;
using testing::ReadBytes;

const std::string kRoot = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY";

std::string Hex(const std::vector<unsigned char>& bytes) {
  std::string text;
  char two[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    if (i > 0) text += ',';
    text += two;
  }
  return text;
}

// A display tree with what fails planted in it: keys the reader may not open
// (their security descriptors are set after the import), missing values and
// keys, a value longer than the first buffer, a device of many instances.
std::string PlantedExport() {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[" + kRoot + "]\r\n\r\n";
  int serial = 0;
  const auto instance = [&](const std::string& device, const std::string& name,
                            const std::string& description, bool withClass, bool withEdid,
                            bool withControl = false) {
    const std::string key = kRoot + "\\" + device + "\\" + name;
    text += "[" + key + "]\r\n\"Mfg\"=\"(Standard monitor types)\"\r\n\"DeviceDesc\"=\"" +
            description + "\"\r\n";
    // An instance with every value has them read in one call; one without
    // Class has them read one by one.
    if (withClass) {
      std::vector<unsigned char> ids;
      for (char c : "MONITOR\\" + device + std::string(2, '\0'))
        ids.insert(ids.end(), {static_cast<unsigned char>(c), 0});
      text += "\"Class\"=\"Monitor\"\r\n\"HardwareID\"=hex(7):" + Hex(ids) + "\r\n";
    }
    text += "\r\n";
    if (withControl) text += "[" + key + "\\Control]\r\n\r\n";
    if (!withEdid) return;
    std::vector<unsigned char> edid(256, 0);
    const unsigned char header[8] = {0, 255, 255, 255, 255, 255, 255, 0};
    std::copy(header, header + 8, edid.begin());
    edid[72 + 3] = 0xFC;
    const std::string model = "MODEL " + std::to_string(++serial) + "\n";
    std::copy(model.begin(), model.end(), edid.begin() + 72 + 5);
    text += "[" + key + "\\Device Parameters]\r\n\"EDID\"=hex:" + Hex(edid) + "\r\n\r\n";
  };
  instance("GLMA001", "1&1&0&UID1", "Plain one", true, true, true);
  instance("GLMA001", "1&1&0&UID2", "Plain two", true, true, true);
  instance("GLMA002", "2&2&0&UID1", std::string(1500, 'L'), true, true);  // > 1024 bytes
  instance("GLMA002", "2&2&0&UID2", "No parameters", false, false);
  instance("GLMA003", "3&3&0&UID1", "Behind a closed device key", true, true);
  instance("GLMA004", "4&4&0&UID1", "Behind a closed instance key", true, true);
  instance("GLMA004", "4&4&0&UID2", "Parameters closed", true, true);
  for (int i = 0; i < 9; ++i)
    instance("GLMA005", "5&5&0&UID" + std::to_string(i), "Many " + std::to_string(i), true, true);
  std::string wide = "\xFF\xFE";
  for (char c : text) {
    wide.push_back(c);
    wide.push_back('\0');
  }
  return wide;
}

// Keys only SYSTEM may open.
const char* const kClosedKeys[] = {
    "GLMA003", "GLMA004\\4&4&0&UID1", "GLMA004\\4&4&0&UID2\\Device Parameters",
    "GLMA001\\1&1&0&UID2\\Control",  // present or not cannot be told
};

// Everything the scan gives, failures included, as text.
std::string Scan(RpcRegistryAccess& registry, const std::string& host, unsigned* pipes = nullptr,
                 bool* lost = nullptr) {
  std::string out;
  RegKey root = kNoKey;
  std::vector<std::string> deviceIds;
  std::string error;
  const int connected = ConnectRemoteRegistry(registry, host, &root, &deviceIds, &error);
  out += "connect " + std::to_string(connected) + " " + error + "\n";
  if (lost != nullptr) *lost = connected != 0;
  if (connected != 0) return out;
  for (const std::string& id : deviceIds) {
    MonitorTable table;
    error.clear();
    // Presence too: the read-ahead opens the Control keys in its own waves.
    const int scanned = ScanDisplayMonitors(registry, root, id, table, &error, {true});
    if (scanned == kScanConnectionLost && lost != nullptr) *lost = true;
    out += id + " " + std::to_string(scanned) + " " + error + "\n";
    for (std::size_t i = 0; i < table.RowCount(); ++i) {
      for (const std::string& cell : RowAt(table, i)) out += cell + "|";
      out += " presence " + std::to_string(static_cast<int>(table.details[i].presence)) + "\n";
    }
  }
  if (pipes != nullptr) *pipes = registry.PipeCount(root);
  registry.RegCloseKey(root);
  return out;
}

class ReadAheadTest : public testing::PrivateSambaTest {
 protected:
  std::string DisplayExport() override { return PlantedExport(); }

  void SetUp() override {
    PrivateSambaTest::SetUp();
    if (!Ready()) return;
    const std::string log = ServerLogRedirect();
    for (const char* key : kClosedKeys) {
      const std::string command = "net -s " + serverDir_ +
                                  "/smb.conf registry setsd_sddl "
                                  "'HKLM\\SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\" +
                                  key + "' 'O:BAG:SYD:(A;;RPWPCCDCLCRCWOWDSDSW;;;SY)'" + log;
      ASSERT_EQ(std::system(command.c_str()), 0) << ServerLog();
    }
    const std::string auth = ReadBytes(serverDir_ + "/auth-admin.txt");
    const auto field = [&](const std::string& name) {
      const std::size_t start = auth.find(name + " = ") + name.size() + 3;
      return auth.substr(start, auth.find('\n', start) - start);
    };
    credentials_.username = field("username");
    credentials_.domain = field("domain");
    credentials_.password = field("password");
  }
  RpcOptions Options(bool readAhead, bool everyPipeAtOnce = false) const {
    RpcOptions options;
    // Every pipe opens with the first, as over a slow link: the read's calls
    // are then the same from run to run.
    if (everyPipeAtOnce) options.slowConnect = 0ms;
    options.connectTimeout = 10s;
    options.requestTimeout = 10s;
    options.readAhead = readAhead;
    options.readAheadPresence = readAhead;
    options.systemMessages = [](long code) { return "text of " + std::to_string(code); };
    return options;
  }

  // A relay on 127.0.0.2:445 (the port the back end connects to) in front of
  // the server, ready when this returns.
  std::unique_ptr<testing::Spawned> Relay(long cutAfter) {
    std::vector<std::string> args = {"127.0.0.2", "445", "127.0.0.1", "445"};
    if (cutAfter > 0) args.insert(args.end(), {"--cut-after", std::to_string(cutAfter)});
    auto relay = std::make_unique<testing::Spawned>(GLIMMORA_RELAY_PATH, args,
                                                    dir_.File("relay" + std::to_string(cutAfter)));
    for (int i = 0; i < 200 && ReadBytes(relay->outPath()).find("ready") == std::string::npos;
         ++i) {
      std::this_thread::sleep_for(10ms);
    }
    return relay;
  }

  RpcCredentials credentials_;
};

TEST_F(ReadAheadTest, GivesTheRowsAndMessagesOfTheCallByCallScan) {
  RpcRegistryAccess byCall(credentials_, Options(false));
  RpcRegistryAccess ahead(credentials_, Options(true));
  const std::string expected = Scan(byCall, "127.0.0.1");
  unsigned pipes = 0;
  const std::string got = Scan(ahead, "127.0.0.1", &pipes);
  EXPECT_EQ(got, expected);
  EXPECT_GT(pipes, 1u);
  // The plants took: a device key and an instance key closed, cells unknown.
  EXPECT_NE(expected.find("GLMA003 -1 Registry Open Error : Key=SYSTEM\\CurrentControlSet\\Enum\\"
                          "DISPLAY\\GLMA003 Code=5 Desc=text of 5"),
            std::string::npos)
      << expected;
  EXPECT_NE(expected.find(std::string(1500, 'L')), std::string::npos);
  EXPECT_EQ(expected.find("Behind a closed instance key"), std::string::npos);
  EXPECT_NE(expected.find("Parameters closed|"), std::string::npos);
  EXPECT_NE(expected.find("Many 8|"), std::string::npos);
  // Present, not told (the closed Control key), and a ghost (no Control key).
  const auto presenceOf = [&](const std::string& description) {
    const std::size_t row = expected.find("|" + description + "|");
    const std::size_t end = expected.find('\n', row);
    return row == std::string::npos ? std::string() : expected.substr(end - 10, 10);
  };
  EXPECT_EQ(presenceOf("Plain one"), "presence 0");
  EXPECT_EQ(presenceOf("Plain two"), "presence 2");
  EXPECT_EQ(presenceOf("Many 8"), "presence 1");
}

TEST_F(ReadAheadTest, ExtraPipesTheServerRefusesLeaveTheFirstOne) {
  RpcRegistryAccess byCall(credentials_, Options(false));
  const std::string expected = Scan(byCall, "127.0.0.1");
  // A pipe the server does not have: the open of each extra pipe fails.
  for (const char* refused : {"glimmora-none"}) {
    RpcOptions options = Options(true);
    options.extraPipeName = refused;
    RpcRegistryAccess ahead(credentials_, options);
    unsigned pipes = 0;
    EXPECT_EQ(Scan(ahead, "127.0.0.1", &pipes), expected) << refused;
    EXPECT_EQ(pipes, 1u) << refused;
  }
}

TEST_F(ReadAheadTest, ALinkThatBreaksInAWaveFailsTheWorkstation) {
  // How many messages the server sends for the whole read-ahead.
  long messages = 0;
  {
    auto relay = Relay(0);
    RpcRegistryAccess ahead(credentials_, Options(true, true));
    bool lost = true;
    Scan(ahead, "127.0.0.2", nullptr, &lost);
    ASSERT_FALSE(lost);
    for (int i = 0; i < 200 && messages == 0; ++i) {
      const std::string err = ReadBytes(relay->errPath());
      if (const std::size_t at = err.find("messages "); at != std::string::npos)
        messages = std::atol(err.c_str() + at + 9);
      std::this_thread::sleep_for(10ms);
    }
  }
  ASSERT_GT(messages, 60);
  // Past the connect and the first waves, inside the later ones.
  for (const long cut : {messages / 2, messages * 3 / 4}) {
    auto relay = Relay(cut);
    RpcRegistryAccess ahead(credentials_, Options(true, true));
    bool lost = false;
    const std::string out = Scan(ahead, "127.0.0.2", nullptr, &lost);
    EXPECT_TRUE(lost) << cut << " of " << messages << "\n" << out;
    EXPECT_NE(out.find("Registry Open Error : Key="), std::string::npos) << out;
  }
}

// A winbindd of another server at the machine's default socket, as a domain
// controller of another test runs one: it takes requests and never answers.
// The test server's logons must not depend on it.
class ForeignWinbinddTest : public ReadAheadTest {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "a private mount namespace needs root";
    // The socket is planted in a mount namespace of this test's own, so no
    // other server on the machine meets it.
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
      GTEST_SKIP() << "cannot make a mount namespace here";
    }
    const std::string socketDir = "/run/samba/winbindd";
    std::filesystem::create_directories(socketDir);
    const std::string planted = dir_.File("winbindd");
    std::filesystem::create_directories(planted);
    ASSERT_EQ(chmod(planted.c_str(), 0755), 0);
    ASSERT_EQ(mount(planted.c_str(), socketDir.c_str(), nullptr, MS_BIND, nullptr), 0);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener_, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/pipe", socketDir.c_str());
    ASSERT_EQ(bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // Connections wait in the backlog, their requests unread.
    ASSERT_EQ(listen(listener_, 64), 0);
    ReadAheadTest::SetUp();
  }
  void TearDown() override {
    ReadAheadTest::TearDown();
    if (listener_ >= 0) close(listener_);
  }
  int listener_ = -1;
};

TEST_F(ForeignWinbinddTest, TheTestServerLogsOnWithoutIt) {
  RpcRegistryAccess ahead(credentials_, Options(true));
  const std::string got = Scan(ahead, "127.0.0.1");
  EXPECT_EQ(got.rfind("connect 0 \n", 0), 0u) << got;
  EXPECT_NE(got.find("Plain one|"), std::string::npos) << got;
}

}  // namespace
}  // namespace glimmora
