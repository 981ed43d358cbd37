// The probe through ICMP.DLL, as Windows (here Wine) provides it. The launcher
// with-probe-network gives these tests a silent host and a resolver that stays
// on loopback.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ipexport.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "counting_platform.h"
#include "reachability/echo_platform.h"
#include "reachability/probe.h"
#include "reachability/probe_icmpdll.h"

namespace glimmora {
namespace {

using testing::CountingPlatform;
using ::testing::StartsWith;

constexpr char kInvalidName[] = "glimmora-probe-test.invalid";
// gtest's own regular expressions are too simple on Windows.
bool FullyMatches(const std::string& text, const std::string& pattern) {
  return std::regex_match(text, std::regex(pattern));
}

constexpr char kReplyFromLoopback[] =
    "Reply from 127\\.0\\.0\\.1: bytes=32 time(<1|=[0-9]+) TTL=[0-9]+";

class IcmpDllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { loaded_ = LoadIcmpLibrary(); }
  void SetUp() override { ASSERT_TRUE(sockets_.started()); }

  static int loaded_;
  SocketLibraryUse sockets_;
};
int IcmpDllTest::loaded_ = -1;

TEST_F(IcmpDllTest, LoadsAllThreeEntryPoints) {
  EXPECT_EQ(loaded_, 0);
  const IcmpLibrary& library = LoadedIcmpLibrary();
  EXPECT_NE(library.module, nullptr);
  EXPECT_NE(library.create, nullptr);
  EXPECT_NE(library.close, nullptr);
  EXPECT_NE(library.send, nullptr);
}

TEST_F(IcmpDllTest, MissingLibraryLeavesEveryEntryPointUnset) {
  const IcmpLibrary library = LoadIcmpEntryPoints("glimmora-no-such-icmp.dll");
  EXPECT_EQ(library.module, nullptr);
  EXPECT_EQ(library.create, nullptr);
  EXPECT_EQ(library.close, nullptr);
  EXPECT_EQ(library.send, nullptr);
  EXPECT_FALSE(library.Complete());
}

TEST_F(IcmpDllTest, EntryPointsFoundStaySetWhenOneIsMissing) {
  const IcmpLibrary library = LoadIcmpEntryPoints("probe_partial_icmp.dll");
  ASSERT_NE(library.module, nullptr);
  EXPECT_NE(library.create, nullptr);
  EXPECT_EQ(library.close, nullptr);
  EXPECT_NE(library.send, nullptr);
  EXPECT_FALSE(library.Complete());
}

TEST_F(IcmpDllTest, LoopbackAnswers) {
  std::string text;
  EXPECT_EQ(PingHost("127.0.0.1", text), PingReply);
  EXPECT_THAT(text, StartsWith("Reply from 127.0.0.1: bytes=32"));
  EXPECT_TRUE(FullyMatches(text, kReplyFromLoopback)) << text;
  EXPECT_EQ(PingHost("localhost", text), PingReply);
  EXPECT_TRUE(FullyMatches(text, kReplyFromLoopback)) << text;
}

// The reply record alone is 40 bytes on 64-bit Windows: a buffer sized for the
// 32-bit record (payload + 29 bytes) never receives a reply.
TEST_F(IcmpDllTest, ReplyBufferMustHoldTheRecordOfThisPlatform) {
  const IcmpLibrary& library = LoadedIcmpLibrary();
  ASSERT_TRUE(library.Complete());
  const std::size_t payloadSize = kEchoPayload.size();
  const std::size_t documented = SystemEchoPlatform().ReplyBufferSize(payloadSize);
  EXPECT_EQ(documented, sizeof(ICMP_ECHO_REPLY) + payloadSize + 8);

  HANDLE handle = library.create();
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  const IPAddr loopback = htonl(INADDR_LOOPBACK);
  auto send = [&](std::size_t size) {
    std::vector<unsigned char> reply(size, 0);
    return library.send(handle, loopback, const_cast<char*>(kEchoPayload.data()),
                        static_cast<WORD>(payloadSize), nullptr, reply.data(),
                        static_cast<DWORD>(reply.size()), kEchoTimeoutMs);
  };
  EXPECT_EQ(send(payloadSize + 29), 0u);
  EXPECT_EQ(send(documented), 1u);
  library.close(handle);
}

// An address with IPv6 only goes out as an ICMPv6 echo through iphlpapi.dll,
// named as the system writes it. Wine's ICMPv6 functions send nothing, so
// there the three attempts time out; Windows answers from loopback.
TEST_F(IcmpDllTest, AnIpv6AddressGetsAnIcmpv6Echo) {
  for (const char* name : {"::1", "[::1]"}) {
    CountingPlatform counting(SystemEchoPlatform());
    std::string text;
    const int result = PingHost(counting, name, text);
    EXPECT_EQ(counting.channelsOpened, 0) << name;
    EXPECT_EQ(counting.ipv6ChannelsOpened, 1) << name;
    if (result == PingReply) {
      EXPECT_THAT(text, StartsWith("Reply from ::1: bytes=32")) << name;
    } else {
      EXPECT_EQ(result, PingTimedOut) << text;
      EXPECT_EQ(text, "(Error: Request timed out (::1))") << name;
      EXPECT_EQ(counting.sends, 3) << name;
    }
  }
}

TEST_F(IcmpDllTest, UnknownNameIsNotFoundAndNothingIsSent) {
  if (std::getenv("GLIMMORA_LOCAL_RESOLVER") == nullptr) {
    GTEST_SKIP() << "a lookup here could reach a name server off this machine; "
                    "run through with-probe-network as root";
  }
  CountingPlatform counting(SystemEchoPlatform());
  std::string text;
  EXPECT_EQ(PingHost(counting, kInvalidName, text), PingHostNotFound);
  EXPECT_EQ(text, std::string("(Error: Could not find host  ") + kInvalidName + ")");
  EXPECT_EQ(counting.channelsOpened, 0);
  EXPECT_EQ(counting.sends, 0);
}

TEST_F(IcmpDllTest, SilentHostTimesOutAfterThreeAttempts) {
  const char* silent = std::getenv("GLIMMORA_SILENT_HOST");
  if (silent == nullptr) GTEST_SKIP() << "no silent host: run through with-probe-network as root";
  CountingPlatform counting(SystemEchoPlatform());
  std::string text;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PingHost(counting, silent, text), PingTimedOut);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(text, std::string("(Error: Request timed out (") + silent + "))");
  EXPECT_EQ(counting.sends, 3);
  EXPECT_GE(took.count(), 3 * 1000 - 50);
  EXPECT_LT(took.count(), 3 * 1000 + 1500);
  std::printf("three silent attempts took %lld ms\n", static_cast<long long>(took.count()));
}

// glimmora-cli.exe beside this program.
std::string CliPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, length);
  return text.substr(0, text.find_last_of("\\/") + 1) + "glimmora-cli.exe";
}

struct CliRun {
  int status = -1;
  std::string out;
};

CliRun RunPing(const std::string& arguments) {
  CliRun run;
  const std::string command = "\"\"" + CliPath() + "\" ping " + arguments + " 2>NUL\"";
  std::FILE* pipe = _popen(command.c_str(), "rb");
  if (pipe == nullptr) return run;
  char chunk[256];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.out.append(chunk, got);
  run.status = _pclose(pipe);
  return run;
}

TEST_F(IcmpDllTest, CliPrintsTheLineAndExitsWithTheOutcome) {
  CliRun run = RunPing("127.0.0.1");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(FullyMatches(run.out, std::string(kReplyFromLoopback) + "\r?\n")) << run.out;

  run = RunPing("");
  EXPECT_EQ(run.status, 64);
  EXPECT_EQ(run.out, "");

  if (std::getenv("GLIMMORA_LOCAL_RESOLVER") != nullptr) {
    run = RunPing(kInvalidName);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, std::string("(Error: Could not find host  ") + kInvalidName + ")\r\n");
  }
}

}  // namespace
}  // namespace glimmora
