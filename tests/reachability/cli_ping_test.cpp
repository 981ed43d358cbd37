// `glimmora ping` as a user runs it: its exact output and exit status.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "reachability/probe.h"
#include "test_network.h"

namespace glimmora {
namespace {

using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using testing::RunShell;
using testing::TestNetwork;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// English whatever the caller's locale; `prefix` may put it in a namespace or
// take privileges away.
CliRun RunPing(const std::string& arguments, const std::string& prefix = "") {
  char errPath[] = "/tmp/glimmora-ping-err-XXXXXX";
  const int fd = mkstemp(errPath);
  close(fd);
  CliRun run;
  run.status = RunShell(
      prefix + "env LC_ALL=C LANG=C " GLIMMORA_CLI_PATH " ping " + arguments + " 2>" + errPath,
      &run.out);
  std::ifstream err(errPath, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  std::remove(errPath);
  return run;
}

TEST(CliPingTest, UsageErrorsExitWithSixtyFour) {
  for (const char* arguments : {"", "ws1 ws2", "''"}) {
    const CliRun run = RunPing(arguments);
    EXPECT_EQ(run.status, 64) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
    EXPECT_THAT(run.err, HasSubstr("usage: glimmora ping WORKSTATION")) << arguments;
  }
}

TEST(CliPingTest, LoopbackReplyExitsWithZero) {
  if (LoadIcmpLibrary() != 0) GTEST_SKIP() << "no ICMP socket can be opened here";
  const CliRun run = RunPing("127.0.0.1");
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, MatchesRegex("Reply from 127\\.0\\.0\\.1: bytes=32 time(<1|=[0-9]+) "
                                    "TTL=[0-9]+\n"));
  EXPECT_EQ(run.err, "");
}

class CliPingNetworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string whyNot;
    network_ = TestNetwork::Create(&whyNot);
    if (!network_) GTEST_SKIP() << whyNot;
  }
  std::unique_ptr<TestNetwork> network_;
};

TEST_F(CliPingNetworkTest, UnknownNameExitsWithOne) {
  // Inside the namespace no name server is reachable: the lookup stays here.
  const CliRun run = RunPing("glimmora-probe-test.invalid", network_->Inside());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "(Error: Could not find host  glimmora-probe-test.invalid)\n");
}

TEST_F(CliPingNetworkTest, SilentHostExitsWithTwo) {
  ASSERT_TRUE(network_->Set("net.ipv4.icmp_echo_ignore_all=1"));
  const CliRun run = RunPing(network_->innerAddress());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "(Error: Request timed out (" + network_->innerAddress() + "))\n");
}

// Without CAP_NET_RAW and outside the group range neither socket opens: the
// load error is reported once and the probe says it is unavailable.
TEST_F(CliPingNetworkTest, NoEchoSocketExitsWithThree) {
  ASSERT_TRUE(network_->Set("net.ipv4.ping_group_range='1 0'"));
  if (RunShell("command -v setpriv") != 0) GTEST_SKIP() << "setpriv is not installed";
  const CliRun run = RunPing("127.0.0.1", network_->Inside() + "setpriv --bounding-set=-net_raw ");
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.err, "ICMP.DLL load error.  PING function is not available.\n");
  EXPECT_EQ(run.out, "(Error: Could not load ICMP.DLL for PING.)\n");
}

}  // namespace
}  // namespace glimmora
