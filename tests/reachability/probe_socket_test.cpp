// The probe against the real system on Linux: ICMP sockets on loopback and
// towards a silent host in a namespace the test makes itself.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "counting_platform.h"
#include "reachability/echo_platform.h"
#include "reachability/probe.h"
#include "reachability/probe_socket.h"
#include "test_network.h"

namespace glimmora {
namespace {

using testing::CountingPlatform;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using testing::TestNetwork;

// Never in any DNS: the .invalid top-level domain is reserved for that.
constexpr char kInvalidName[] = "glimmora-probe-test.invalid";

std::string KindName(EchoSocketKind kind) {
  switch (kind) {
    case EchoSocketKind::kDatagram:
      return "datagram";
    case EchoSocketKind::kRaw:
      return "raw";
    default:
      return "none";
  }
}

// The TTL this host puts on what it sends, and so on its echo replies.
std::string DefaultTtl() {
  std::ifstream file("/proc/sys/net/ipv4/ip_default_ttl");
  std::string ttl;
  file >> ttl;
  return ttl;
}

std::string ReplyPattern(const std::string& dotted, const std::string& ttl) {
  std::string escaped;
  for (char c : dotted) escaped += c == '.' ? std::string("\\.") : std::string(1, c);
  return "Reply from " + escaped + ": bytes=32 time(<1|=[0-9]+) TTL=" + ttl;
}

class SocketProbeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { loaded_ = LoadIcmpLibrary(); }
  void SetUp() override {
    if (loaded_ != 0) {
      GTEST_SKIP() << "no ICMP socket can be opened here: needs root or CAP_NET_RAW, or a "
                      "net.ipv4.ping_group_range that covers the user's group";
    }
  }
  static int loaded_;
};
int SocketProbeTest::loaded_ = -1;

TEST_F(SocketProbeTest, LoopbackAnswers) {
  RecordProperty("socket_kind", KindName(LoadedEchoSocketKind()));
  std::printf("echo socket kind: %s\n", KindName(LoadedEchoSocketKind()).c_str());
  std::string text;
  EXPECT_EQ(PingHost("127.0.0.1", text), PingReply);
  EXPECT_THAT(text, StartsWith("Reply from 127.0.0.1: bytes=32"));
  EXPECT_THAT(text, MatchesRegex(ReplyPattern("127.0.0.1", DefaultTtl())));
}

TEST_F(SocketProbeTest, NameFromTheHostsFileIsResolved) {
  std::string text;
  EXPECT_EQ(PingHost("localhost", text), PingReply);
  EXPECT_THAT(text, StartsWith("Reply from 127.0.0.1: bytes=32 "));
}

TEST_F(SocketProbeTest, EveryKindThatOpensHereAnswers) {
  int tried = 0;
  for (EchoSocketKind kind : {EchoSocketKind::kDatagram, EchoSocketKind::kRaw}) {
    if (!CanOpenEchoSocket(kind)) continue;
    ++tried;
    std::string text;
    EXPECT_EQ(PingHost(*MakeSocketEchoPlatform(kind), "127.0.0.1", text), PingReply)
        << KindName(kind);
    EXPECT_THAT(text, MatchesRegex(ReplyPattern("127.0.0.1", DefaultTtl()))) << KindName(kind);
  }
  EXPECT_GT(tried, 0);
}

// Each probe has its own socket; on a raw socket every one of them sees all the
// replies and must pick out its own.
TEST_F(SocketProbeTest, ProbesOnManyThreadsAtOnce) {
  constexpr int kThreads = 8;
  std::vector<int> results(kThreads, -100);
  std::vector<std::string> texts(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      const std::string address = "127.0.0." + std::to_string(i + 1);
      results[i] = PingHost(address, texts[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(results[i], PingReply) << texts[i];
    EXPECT_THAT(texts[i],
                MatchesRegex(ReplyPattern("127.0.0." + std::to_string(i + 1), DefaultTtl())));
  }
}

class NamespaceProbeTest : public SocketProbeTest {
 protected:
  void SetUp() override {
    SocketProbeTest::SetUp();
    if (IsSkipped()) return;
    std::string whyNot;
    network_ = TestNetwork::Create(&whyNot);
    if (!network_) GTEST_SKIP() << whyNot;
  }
  void TearDown() override { network_.reset(); }

  std::unique_ptr<TestNetwork> network_;
};

TEST_F(NamespaceProbeTest, SilentHostTimesOutAfterThreeAttempts) {
  const std::string& silent = network_->innerAddress();
  std::string text;
  // The same host answers until it is told to ignore echo requests.
  ASSERT_EQ(PingHost(silent, text), PingReply) << text;
  ASSERT_TRUE(network_->Set("net.ipv4.icmp_echo_ignore_all=1"));

  CountingPlatform counting(SystemEchoPlatform());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(PingHost(counting, silent, text), PingTimedOut);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_EQ(text, "(Error: Request timed out (" + silent + "))");
  EXPECT_EQ(counting.sends, 3);
  EXPECT_GE(took.count(), 3 * 1000 - 30);
  EXPECT_LT(took.count(), 3 * 1000 + 1000);
  RecordProperty("timeout_ms", static_cast<int>(took.count()));
  std::printf("three silent attempts took %lld ms\n", static_cast<long long>(took.count()));
}

// Looked up from inside the namespace, where no name server can be reached, so
// the query for the name never leaves the machine.
TEST_F(NamespaceProbeTest, InvalidNameIsNotFoundAndNothingIsSent) {
  CountingPlatform counting(SystemEchoPlatform());
  std::string text;
  int result = -100;
  ASSERT_TRUE(network_->RunInside([&] { result = PingHost(counting, kInvalidName, text); }));
  EXPECT_EQ(result, PingHostNotFound);
  EXPECT_EQ(text, std::string("(Error: Could not find host  ") + kInvalidName + ")");
  EXPECT_EQ(counting.channelsOpened, 0);
  EXPECT_EQ(counting.sends, 0);
}

// Where the group range lets the user's group have one, the datagram socket
// works without privileges; the TTL then comes as ancillary data.
TEST_F(NamespaceProbeTest, DatagramSocketWhereTheGroupRangeAllowsIt) {
  ASSERT_TRUE(network_->Set("net.ipv4.ping_group_range='0 2147483647'"));
  bool opened = false;
  std::string loopbackText, peerText;
  int loopback = -100, peer = -100;
  ASSERT_TRUE(network_->RunInside([&] {
    opened = CanOpenEchoSocket(EchoSocketKind::kDatagram);
    auto datagram = MakeSocketEchoPlatform(EchoSocketKind::kDatagram);
    loopback = PingHost(*datagram, "127.0.0.1", loopbackText);
    peer = PingHost(*datagram, network_->outerAddress(), peerText);
  }));
  EXPECT_TRUE(opened);
  EXPECT_EQ(loopback, PingReply) << loopbackText;
  EXPECT_THAT(loopbackText, MatchesRegex(ReplyPattern("127.0.0.1", "64")));
  EXPECT_EQ(peer, PingReply) << peerText;
  EXPECT_THAT(peerText, MatchesRegex(ReplyPattern(network_->outerAddress(), DefaultTtl())));
}

}  // namespace
}  // namespace glimmora
