// The Remote Registry back end against a real Samba server on 127.0.0.1
// (scripts/samba-test-server, started once per ctest run by a fixture).
#include "inventory/rpc/registry_rpc.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "cli/credentials.h"
#include "common/deadline.h"
#include "tests/rpc/test_server.h"

namespace glimmora {
namespace {

using testing::kServer;
using testing::ServerDir;

using namespace std::chrono_literals;

const std::string kDisplay = "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\";

// The credentials of a -A file the server script wrote, read as the CLI reads them.
RpcCredentials FromAuthFile(const std::string& name) {
  cli::CredentialOptions options;
  options.authenticationFile = ServerDir() + "/" + name;
  cli::Credentials c;
  std::vector<std::string> warnings;
  std::string error;
  EXPECT_TRUE(
      cli::ResolveCredentials(options, cli::SystemCredentialSources(), &c, &warnings, &error))
      << error;
  EXPECT_TRUE(warnings.empty());  // the script makes them 0600
  RpcCredentials out;
  out.username = c.username;
  out.domain = c.domain;
  out.password = c.password;
  return out;
}

RpcOptions TestOptions() {
  RpcOptions options;
  options.connectTimeout = 5s;
  options.requestTimeout = 10s;
  options.systemMessages = [](long code) { return "base text of " + std::to_string(code); };
  return options;
}

std::string Text(const std::vector<std::uint8_t>& data) {
  return std::string(data.begin(), data.end());
}

class RegistryRpcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerDir().empty()) << "GLIMMORA_SAMBA_DIR is not set: run through ctest";
  }
};

// Subkey names of a key, in the server's order.
std::vector<std::string> Subkeys(RegistryAccess& registry, RegKey root, const std::string& path,
                                 long* openCode = nullptr) {
  RegKey key = kNoKey;
  const long code = registry.RegOpenKeyExA(root, path, 0, kKeyRead, &key);
  if (openCode != nullptr) *openCode = code;
  std::vector<std::string> names;
  if (code != 0) return names;
  ScopedRegKey owned(registry, key);
  std::string name;
  long enumCode = 0;
  for (std::uint32_t i = 0; (enumCode = registry.RegEnumKeyExA(key, i, &name)) == 0; ++i) {
    names.push_back(name);
  }
  EXPECT_EQ(enumCode, kErrorNoMoreItems);
  return names;
}

struct Value {
  long code = -1;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

Value Query(RegistryAccess& registry, RegKey root, const std::string& path,
            const std::string& name) {
  Value value;
  RegKey key = kNoKey;
  value.code = registry.RegOpenKeyExA(root, path, 0, kKeyRead, &key);
  if (value.code != 0) return value;
  ScopedRegKey owned(registry, key);
  value.code = registry.RegQueryValueExA(key, name, &value.type, &value.data);
  return value;
}

// Everything the display scan reads, as one comparable text.
std::string DumpDisplayTree(RegistryAccess& registry, RegKey root) {
  std::string dump;
  std::vector<std::string> devices = Subkeys(registry, root, kDisplay);
  std::sort(devices.begin(), devices.end());  // the server's order is not the point
  for (const std::string& device : devices) {
    std::vector<std::string> instances = Subkeys(registry, root, kDisplay + device);
    std::sort(instances.begin(), instances.end());
    for (const std::string& instance : instances) {
      const std::string path = kDisplay + device + "\\" + instance;
      dump += path + "\n";
      for (const char* name : {"Mfg", "DeviceDesc", "Class", "HardwareID"}) {
        const Value v = Query(registry, root, path, name);
        dump += std::string(name) + "=" + std::to_string(v.code) + ":" + Text(v.data) + "\n";
      }
      const Value edid = Query(registry, root, path + "\\Device Parameters", "EDID");
      dump += "EDID=" + std::to_string(edid.code) + ":" + Text(edid.data) + "\n";
    }
  }
  return dump;
}

TEST_F(RegistryRpcTest, ReadsTheDisplayEntries) {
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), TestOptions());
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &root), 0);
  ScopedRegKey ownedRoot(registry, root);

  const std::vector<std::string> devices = Subkeys(registry, root, kDisplay);
  EXPECT_EQ(std::set<std::string>(devices.begin(), devices.end()),
            (std::set<std::string>{"GLM1234", "GLM5678", "GLM9ABC"}));

  const std::string first = kDisplay + "GLM1234\\1&1a2b3c&0&UID4352";
  const std::string second = kDisplay + "GLM1234\\1&1a2b3c&0&UID4353";
  Value v = Query(registry, root, first, "Mfg");
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(v.type, kRegSz);
  EXPECT_EQ(Text(v.data), std::string("(Standard monitor types)\0", 25));
  v = Query(registry, root, second, "DeviceDesc");
  EXPECT_EQ(Text(v.data), std::string("汎用 PnP モニター") + '\0');
  v = Query(registry, root, first, "HardwareID");
  EXPECT_EQ(v.type, kRegMultiSz);
  EXPECT_EQ(Text(v.data), std::string("MONITOR\\GLM1234\0MONITOR\\Generic\0\0", 33));

  // EDID blocks of 128, 256 and 384 bytes come whole, as the registry keeps them.
  const struct {
    std::string path;
    std::size_t size;
    const char* model;
  } edids[] = {{first, 128, "GLM Vista 24"},
               {second, 256, "GLM Wide 27"},
               {kDisplay + "GLM5678\\5&7f00aa&0&UID256", 384, "GLM Big 32"}};
  for (const auto& e : edids) {
    v = Query(registry, root, e.path + "\\Device Parameters", "EDID");
    ASSERT_EQ(v.code, 0) << e.path;
    EXPECT_EQ(v.type, kRegBinary);
    ASSERT_EQ(v.data.size(), e.size);
    EXPECT_EQ(Text(std::vector<std::uint8_t>(v.data.begin() + 59,
                                             v.data.begin() + 59 + std::strlen(e.model))),
              e.model);
    for (std::size_t block = 0; block < e.size; block += 128) {
      unsigned sum = 0;
      for (std::size_t i = block; i < block + 128; ++i) sum += v.data[i];
      EXPECT_EQ(sum % 256, 0u) << "block " << block / 128 << " of " << e.path;
    }
  }
  // An instance without "Device Parameters".
  RegKey missing = kNoKey;
  EXPECT_EQ(registry.RegOpenKeyExA(root, kDisplay + "GLM5678\\5&7f00aa&0&UID257\\Device Parameters",
                                   0, kKeyRead, &missing),
            kErrorFileNotFound);
  EXPECT_EQ(missing, kNoKey);
}

TEST_F(RegistryRpcTest, ValuesOfEveryTypeAndLongerThanTheFirstBuffer) {
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), TestOptions());
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &root), 0);
  ScopedRegKey ownedRoot(registry, root);
  const std::string key = "SOFTWARE\\GlimmoraTest";

  Value v = Query(registry, root, key, "Big");  // 5000 bytes: asked for twice
  ASSERT_EQ(v.code, 0);
  EXPECT_EQ(v.type, kRegBinary);
  ASSERT_EQ(v.data.size(), 5000u);
  for (std::size_t i = 0; i < v.data.size(); ++i) ASSERT_EQ(v.data[i], (i * 7 + 3) & 255) << i;

  v = Query(registry, root, key, "LongText");  // 1202 bytes of UTF-16
  ASSERT_EQ(v.code, 0);
  std::string expected;
  for (int i = 0; i < 150; ++i) expected += "モニター";
  EXPECT_EQ(Text(v.data), expected + '\0');

  v = Query(registry, root, key, "Expand");
  EXPECT_EQ(v.type, kRegExpandSz);
  EXPECT_EQ(Text(v.data), std::string("%SystemRoot%\\x\0", 15));
  v = Query(registry, root, key, "Number");
  EXPECT_EQ(v.type, kRegDword);
  EXPECT_EQ(v.data, (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));
  v = Query(registry, root, key, "Empty");
  EXPECT_EQ(v.code, 0);
  EXPECT_EQ(Text(v.data), std::string(1, '\0'));
  EXPECT_EQ(Query(registry, root, key, "NoSuchValue").code, kErrorFileNotFound);
  EXPECT_EQ(Query(registry, root, "SOFTWARE\\NoSuchKey", "Big").code, kErrorFileNotFound);
}

TEST_F(RegistryRpcTest, KeysBelongToTheirConnection) {
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), TestOptions());
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA("\\\\127.0.0.1", kHkeyLocalMachine, &root), 0);
  RegKey other = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &other), 0);
  EXPECT_NE(root, other);
  RegKey display = kNoKey;
  ASSERT_EQ(registry.RegOpenKeyExA(root, kDisplay, 0, kKeyRead, &display), 0);
  RegKey otherDisplay = kNoKey;
  ASSERT_EQ(registry.RegOpenKeyExA(other, kDisplay, 0, kKeyRead, &otherDisplay), 0);

  // Closing a root closes its connection and every key opened through it ...
  EXPECT_EQ(registry.RegCloseKey(root), 0);
  std::string name;
  EXPECT_EQ(registry.RegEnumKeyExA(display, 0, &name), kErrorInvalidHandle);
  EXPECT_EQ(registry.RegCloseKey(display), kErrorInvalidHandle);
  EXPECT_EQ(registry.RegCloseKey(root), kErrorInvalidHandle);
  // ... and nothing of another connection.
  EXPECT_EQ(registry.RegEnumKeyExA(otherDisplay, 0, &name), 0);
  EXPECT_EQ(registry.RegCloseKey(otherDisplay), 0);
  EXPECT_EQ(registry.RegCloseKey(other), 0);

  EXPECT_EQ(registry.RegOpenKeyExA(12345, kDisplay, 0, kKeyRead, &display), kErrorInvalidHandle);
  RegKey result = kNoKey;
  EXPECT_EQ(registry.RegConnectRegistryA(kServer, 0x80000001, &result), kErrorNotSupported);
  EXPECT_EQ(result, kNoKey);
}

TEST_F(RegistryRpcTest, WrongPasswordIsLogonFailure) {
  RpcCredentials credentials = FromAuthFile("auth-admin.txt");
  credentials.password += "-wrong";
  RpcRegistryAccess registry(credentials, TestOptions());
  RegKey root = kNoKey;
  std::string description;
  EXPECT_EQ(registry.ConnectWithin(kServer, kHkeyLocalMachine, Deadline(), &root, &description),
            kErrorLogonFailure);
  EXPECT_EQ(root, kNoKey);
  EXPECT_EQ(description, "base text of 1326");
}

TEST_F(RegistryRpcTest, UserWithoutRightsIsAccessDeniedWithAHint) {
  RpcRegistryAccess registry(FromAuthFile("auth-denied.txt"), TestOptions());
  RegKey root = kNoKey;
  std::string description;
  setenv("LANG", "C", 1);
  EXPECT_EQ(registry.ConnectWithin(kServer, kHkeyLocalMachine, Deadline(), &root, &description),
            kErrorAccessDenied);
  EXPECT_EQ(description,
            "base text of 5 (Only administrators of the workstation may use its Remote Registry "
            "service.)");
  setenv("LANG", "ja_JP.UTF-8", 1);
  EXPECT_EQ(registry.ConnectWithin(kServer, kHkeyLocalMachine, Deadline(), &root, &description),
            kErrorAccessDenied);
  EXPECT_NE(description.find("管理者"), std::string::npos);
  unsetenv("LANG");
  // The hint belongs to that failure's description only.
  EXPECT_EQ(registry.SystemMessageText(kErrorAccessDenied), "base text of 5");
}

TEST_F(RegistryRpcTest, MissingPipeReadsAsAStoppedService) {
  RpcOptions options = TestOptions();
  options.pipeName = "glimmora_no_such_pipe";
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), options);
  RegKey root = kNoKey;
  std::string text;
  setenv("LANG", "C", 1);
  EXPECT_EQ(registry.ConnectWithin(kServer, kHkeyLocalMachine, Deadline(), &root, &text),
            kErrorBadNetPath);
  unsetenv("LANG");
  EXPECT_EQ(text.rfind("base text of 53 (The Remote Registry service may be stopped", 0), 0u)
      << text;
}

TEST_F(RegistryRpcTest, NothingListeningIsBadNetPathAtOnce) {
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), TestOptions());
  for (const char* host : {"127.0.0.2", "glimmora-no-such-host.invalid", ""}) {
    RegKey root = kNoKey;
    std::string description;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(registry.ConnectWithin(host, kHkeyLocalMachine, Deadline(), &root, &description),
              kErrorBadNetPath)
        << host;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << host;
    EXPECT_EQ(description, "base text of 53");
  }
}

// A socket listening on `address`:445; -1 when it cannot be had.
int ListenOnSmbPort(const char* address) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int yes = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(445);
  ::inet_pton(AF_INET, address, &where.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A peer that accepts TCP connections and never says a word.
class SilentListener {
 public:
  explicit SilentListener(const char* address) : fd_(ListenOnSmbPort(address)), ok_(fd_ >= 0) {}
  ~SilentListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return ok_; }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

TEST_F(RegistryRpcTest, SilentPeerIsBadNetPathWithinTheDeadline) {
  SilentListener listener("127.0.0.3");
  ASSERT_TRUE(listener.ok()) << "cannot listen on 127.0.0.3:445";
  RpcOptions options = TestOptions();
  options.connectTimeout = 1500ms;
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), options);
  RegKey root = kNoKey;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(registry.RegConnectRegistryA("127.0.0.3", kHkeyLocalMachine, &root), kErrorBadNetPath);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 1400ms);
  EXPECT_LT(took, 3500ms);
}

// A relay on `address`:445 to the test server that resets the connection at
// the first open of the winreg pipe it sees (the first of all its connections),
// as a workstation may while the service it starts on demand comes up, and
// passes everything else.
class PipeOpenResettingRelay {
 public:
  explicit PipeOpenResettingRelay(const char* address) {
    listener_ = ListenOnSmbPort(address);
    ok_ = listener_ >= 0;
    if (ok_) thread_ = std::thread([this] { Accept(); });
  }
  ~PipeOpenResettingRelay() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  bool ok() const { return ok_; }
  int resets() const { return resets_; }

 private:
  void Accept() {
    std::vector<std::thread> relays;
    for (;;) {
      const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) break;
      relays.emplace_back([this, client] { Relay(client); });
    }
    for (std::thread& relay : relays) relay.join();
  }

  void Relay(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(445);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string pipeName("w\0i\0n\0r\0e\0g\0", 12);  // as SMB2 CREATE names it
    std::string seen;  // the client's bytes, to find the name across reads
    if (::connect(server, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
      pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      char buffer[65536];
      while (!stop_ && ::poll(ends, 2, 200) >= 0) {
        bool ended = false;
        for (int i = 0; i < 2 && !ended; ++i) {
          if ((ends[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
          const ssize_t got = ::read(ends[i].fd, buffer, sizeof buffer);
          if (got <= 0) {
            ended = true;
            break;
          }
          if (i == 0) {
            seen.append(buffer, static_cast<std::size_t>(got));
            if (seen.find(pipeName) != std::string::npos && !resetDone_.exchange(true)) {
              ++resets_;
              const linger abort{1, 0};  // a reset, not an orderly close
              ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
              ended = true;
              break;
            }
            if (seen.size() > 4096) seen.erase(0, seen.size() - 64);
          }
          if (::write(ends[1 - i].fd, buffer, static_cast<std::size_t>(got)) != got) ended = true;
        }
        if (ended) break;
      }
    }
    ::close(server);
    ::close(client);
  }

  int listener_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> resetDone_{false};
  std::atomic<int> resets_{0};
  std::thread thread_;
};

// The first open of \pipe\winreg fails as a trigger-started service's does;
// the one more try after a moment, within the connect time-out, reads.
TEST_F(RegistryRpcTest, FirstPipeOpenThatFailsIsTriedOnceMore) {
  {
    PipeOpenResettingRelay relay("127.0.0.5");
    ASSERT_TRUE(relay.ok()) << "cannot listen on 127.0.0.5:445";
    RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), TestOptions());
    RegKey root = kNoKey;
    ASSERT_EQ(registry.RegConnectRegistryA("127.0.0.5", kHkeyLocalMachine, &root), 0);
    ScopedRegKey ownedRoot(registry, root);
    EXPECT_EQ(relay.resets(), 1);
    EXPECT_EQ(Subkeys(registry, root, kDisplay).size(), 3u);
  }
  // No time left for the wait: the failure stands, and says so at once.
  PipeOpenResettingRelay relay("127.0.0.5");
  ASSERT_TRUE(relay.ok());
  RpcOptions options = TestOptions();
  options.serviceStartWait = 10s;
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), options);
  RegKey root = kNoKey;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(registry.RegConnectRegistryA("127.0.0.5", kHkeyLocalMachine, &root), kErrorBadNetPath);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(relay.resets(), 1);
}

// Sockets a process holds open, by inode.
std::set<std::string> SocketInodes(const std::filesystem::path& fdDir) {
  std::set<std::string> inodes;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(fdDir, error)) {
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  return inodes;
}

struct TcpSocket {
  std::string local;  // as /proc/net/tcp writes it: "0100007F:01BD"
  std::string remote;
  std::string state;  // "01" is established
  std::string inode;
};

std::vector<TcpSocket> TcpSockets() {
  std::vector<TcpSocket> sockets;
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, skip;
    TcpSocket socket;
    fields >> slot >> socket.local >> socket.remote >> socket.state;
    for (int i = 0; i < 5; ++i) fields >> skip;  // queues, timers, retransmits, uid, timeout
    fields >> socket.inode;
    sockets.push_back(socket);
  }
  return sockets;
}

// The server process that serves this process's one connection to the test
// server: the smbd holding the other end of its TCP socket. Other tests may
// connect to the same server at the same time, so neither "the newest smbd"
// nor "the one that appeared" will do. 0 when there is not exactly one.
int ServingProcess() {
  const std::string server = "0100007F:01BD";  // 127.0.0.1:445
  const std::set<std::string> own = SocketInodes("/proc/self/fd");
  const std::vector<TcpSocket> sockets = TcpSockets();
  std::vector<std::string> ourEnds;
  for (const TcpSocket& socket : sockets) {
    if (socket.state == "01" && socket.remote == server && own.count(socket.inode) != 0)
      ourEnds.push_back(socket.local);
  }
  if (ourEnds.size() != 1) return 0;
  std::string serverInode;
  for (const TcpSocket& socket : sockets) {
    if (socket.local == server && socket.remote == ourEnds[0]) serverInode = socket.inode;
  }
  if (serverInode.empty()) return 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    if (SocketInodes(entry.path() / "fd").count(serverInode) != 0) return std::atoi(name.c_str());
  }
  return 0;
}

// Stops one process of the test server for a while; it goes on however the test ends.
class PausedProcess {
 public:
  explicit PausedProcess(int pid) : pid_(pid) { ::kill(pid_, SIGSTOP); }
  ~PausedProcess() { ::kill(pid_, SIGCONT); }

 private:
  int pid_;
};

// A server that stops answering in the middle of a session: the call ends at
// the request time-out, and the connection is not used again.
TEST_F(RegistryRpcTest, CallsAreBoundedByTheRequestTimeout) {
  RpcOptions options = TestOptions();
  options.requestTimeout = 1s;
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), options);
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &root), 0);
  ScopedRegKey ownedRoot(registry, root);
  const int serving = ServingProcess();
  ASSERT_NE(serving, 0) << "cannot tell which server process serves this connection";
  {
    PausedProcess paused(serving);
    RegKey key = kNoKey;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(registry.RegOpenKeyExA(root, kDisplay, 0, kKeyRead, &key), kErrorTimeout);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 5s);
    // An answer that comes late could be taken for the next one's: the
    // connection answers no more.
    const auto again = std::chrono::steady_clock::now();
    EXPECT_NE(registry.RegOpenKeyExA(root, kDisplay, 0, kKeyRead, &key), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - again, 500ms);
  }
  EXPECT_EQ(registry.SystemMessageText(kErrorTimeout), "base text of 1460");
}

// A batch gives each workstation a deadline: the connect and each call on
// the connection it made end by it, however long their own time-outs are.
TEST_F(RegistryRpcTest, TheExaminationsDeadlineCutsTheConnectAndTheCalls) {
  SilentListener listener("127.0.0.4");
  ASSERT_TRUE(listener.ok()) << "cannot listen on 127.0.0.4:445";
  RpcOptions options = TestOptions();  // 5 s to connect, 10 s a call
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), options);
  std::string description;
  {
    RegKey root = kNoKey;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(registry.ConnectWithin("127.0.0.4", kHkeyLocalMachine,
                                     Deadline(DeadlineClock::now() + 800ms), &root, &description),
              0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 700ms);
    EXPECT_LT(took, 2s);
  }

  std::atomic<bool> stop{false};
  const auto connected = DeadlineClock::now();
  const Deadline deadline(connected + 2s, [&stop] { return stop.load(); });
  RegKey root = kNoKey;
  ASSERT_EQ(registry.ConnectWithin(kServer, kHkeyLocalMachine, deadline, &root, &description), 0);
  ScopedRegKey ownedRoot(registry, root);
  RegKey key = kNoKey;
  // A stop counts as the deadline passed: the call is not even made, and the
  // connection stays usable.
  stop = true;
  EXPECT_EQ(registry.RegOpenKeyExA(root, kDisplay, 0, kKeyRead, &key), kErrorTimeout);
  stop = false;
  ASSERT_EQ(registry.RegOpenKeyExA(root, kDisplay, 0, kKeyRead, &key), 0);
  registry.RegCloseKey(key);

  const int serving = ServingProcess();
  ASSERT_NE(serving, 0) << "cannot tell which server process serves this connection";
  PausedProcess paused(serving);
  const auto start = std::chrono::steady_clock::now();
  // A key the display read-ahead did not read: the call goes to the server.
  EXPECT_EQ(registry.RegOpenKeyExA(root, "SOFTWARE\\GlimmoraTest", 0, kKeyRead, &key),
            kErrorTimeout);
  EXPECT_GE(std::chrono::steady_clock::now() - connected, 1900ms);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);  // not the 10 s of the request time-out
}

// Several threads, each with its own connections, as a parallel batch would run.
TEST_F(RegistryRpcTest, ConnectionsOnSeveralThreadsReadTheSame) {
  RpcRegistryAccess registry(FromAuthFile("auth-admin.txt"), TestOptions());
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &root), 0);
  const std::string expected = DumpDisplayTree(registry, root);
  registry.RegCloseKey(root);
  ASSERT_NE(expected.find("GLM Mini"), std::string::npos);

  constexpr int kThreads = 4;
  constexpr int kRounds = 3;
  std::vector<std::string> dumps(kThreads * kRounds);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        RegKey own = kNoKey;
        const long code = registry.RegConnectRegistryA(kServer, kHkeyLocalMachine, &own);
        dumps[t * kRounds + round] =
            code == 0 ? DumpDisplayTree(registry, own) : "connect " + std::to_string(code);
        if (code == 0) registry.RegCloseKey(own);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& dump : dumps) EXPECT_EQ(dump, expected);
}

}  // namespace
}  // namespace glimmora
