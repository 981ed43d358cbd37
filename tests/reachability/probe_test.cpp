// The attempt sequence and the result texts, with a scripted echo and clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "reachability/echo_platform.h"
#include "reachability/probe.h"
#include "resources/texts.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using ::testing::ElementsAre;

// One scripted attempt: how long the send takes on the fake clock, and the
// reply it brings, if any.
struct ScriptedSend {
  std::uint32_t durationMs = kEchoTimeoutMs;
  std::optional<EchoReply> reply;
};

ScriptedSend NoReply(std::uint32_t durationMs = kEchoTimeoutMs) {
  return {durationMs, {}};
}
ScriptedSend ReplyAfter(std::uint32_t durationMs, int dataSize = 32, int ttl = 128) {
  return {durationMs, EchoReply{dataSize, ttl}};
}

struct SentEcho {
  Ipv4Address destination;
  std::string payload;
  std::size_t bufferSize;
  bool bufferZeroed;
  std::uint32_t timeoutMs;
};

constexpr Ipv4Address kDefaultAddress = {10, 1, 2, 3};

class FakeEchoPlatform : public EchoPlatform {
 public:
  bool available = true;
  bool outOfMemory = false;
  std::vector<Ipv4Address> addresses = std::vector<Ipv4Address>(1, kDefaultAddress);
  std::deque<ScriptedSend> script;
  std::uint32_t clock = 5000;

  std::vector<std::string> resolved;
  std::vector<SentEcho> sent;
  int channelsOpened = 0;
  int channelsClosed = 0;

  bool Available() const override { return available; }

  std::vector<Ipv4Address> ResolveIpv4(const std::string& name, const Deadline&) override {
    resolved.push_back(name);
    return addresses;
  }

  std::unique_ptr<EchoChannel> OpenChannel() override {
    ++channelsOpened;
    return std::make_unique<Channel>(*this);
  }

  std::size_t ReplyBufferSize(std::size_t payloadSize) const override { return payloadSize + 48; }

  std::unique_ptr<std::uint8_t[]> AllocateReplyBuffer(std::size_t size) override {
    if (outOfMemory) return nullptr;
    return EchoPlatform::AllocateReplyBuffer(size);
  }

  std::uint32_t TickCount() override { return clock; }

 private:
  class Channel : public EchoChannel {
   public:
    explicit Channel(FakeEchoPlatform& owner) : owner_(owner) {}
    ~Channel() override { ++owner_.channelsClosed; }

    bool SendEcho(const Ipv4Address& destination, std::span<const std::uint8_t> payload,
                  std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                  EchoReply& reply) override {
      bool zeroed = true;
      for (std::uint8_t byte : replyBuffer) zeroed = zeroed && byte == 0;
      owner_.sent.push_back({destination, std::string(payload.begin(), payload.end()),
                             replyBuffer.size(), zeroed, timeoutMs});
      // Dirty the buffer as a real reply would.
      for (std::uint8_t& byte : replyBuffer) byte = 0xA5;
      if (owner_.script.empty()) {
        ADD_FAILURE() << "more sends than scripted";
        return false;
      }
      const ScriptedSend next = owner_.script.front();
      owner_.script.pop_front();
      owner_.clock += next.durationMs;
      if (!next.reply) return false;
      reply = *next.reply;
      return true;
    }

   private:
    FakeEchoPlatform& owner_;
  };
};

class ProbeTest : public ::testing::Test {
 protected:
  int Ping(const std::string& name = "ws042") { return PingHost(platform_, name, text_); }

  FakeEchoPlatform platform_;
  std::string text_ = "stale text";
};

TEST_F(ProbeTest, TwoSilentAttemptsThenAReply) {
  platform_.script = {NoReply(), NoReply(), ReplyAfter(15, 32, 128)};
  EXPECT_EQ(Ping(), PingReply);
  EXPECT_EQ(text_, "Reply from 10.1.2.3: bytes=32 time=15 TTL=128");
  ASSERT_EQ(platform_.sent.size(), 3u);
  for (const SentEcho& echo : platform_.sent) {
    EXPECT_EQ(echo.destination, (Ipv4Address{10, 1, 2, 3}));
    EXPECT_EQ(echo.payload, "123456789-123456789-123456789-12");
    EXPECT_EQ(echo.timeoutMs, 1000u);
    EXPECT_EQ(echo.bufferSize, 32u + 48u);
  }
  EXPECT_TRUE(platform_.sent.front().bufferZeroed);
  EXPECT_EQ(platform_.channelsOpened, 1);
  EXPECT_EQ(platform_.channelsClosed, 1);
}

TEST_F(ProbeTest, ThreeSilentAttemptsTimeOut) {
  platform_.script = {NoReply(), NoReply(), NoReply(), ReplyAfter(1)};
  EXPECT_EQ(Ping(), PingTimedOut);
  EXPECT_EQ(text_, "(Error: Request timed out (10.1.2.3))");
  EXPECT_EQ(platform_.sent.size(), 3u);
  EXPECT_EQ(platform_.channelsClosed, 1);
}

TEST_F(ProbeTest, SendsThatFailAtOnceCountAsAttempts) {
  platform_.script = {NoReply(0), NoReply(0), NoReply(0), ReplyAfter(1)};
  EXPECT_EQ(Ping(), PingTimedOut);
  EXPECT_EQ(platform_.sent.size(), 3u);

  FakeEchoPlatform second;
  second.script = {NoReply(0), NoReply(0), ReplyAfter(3)};
  std::string text;
  EXPECT_EQ(PingHost(second, "ws042", text), PingReply);
  EXPECT_EQ(text, "Reply from 10.1.2.3: bytes=32 time=3 TTL=128");
}

TEST_F(ProbeTest, TimeIsTheCallersOwnMeasurement) {
  platform_.script = {ReplyAfter(0, 32, 64)};
  EXPECT_EQ(Ping(), PingReply);
  EXPECT_EQ(text_, "Reply from 10.1.2.3: bytes=32 time<1 TTL=64");

  FakeEchoPlatform oneMs;
  oneMs.script = {ReplyAfter(1, 32, 255)};
  EXPECT_EQ(PingHost(oneMs, "ws042", text_), PingReply);
  EXPECT_EQ(text_, "Reply from 10.1.2.3: bytes=32 time=1 TTL=255");

  // A silent attempt before the reply does not add to the time shown.
  FakeEchoPlatform late;
  late.script = {NoReply(), ReplyAfter(999, 18, 1)};
  EXPECT_EQ(PingHost(late, "ws042", text_), PingReply);
  EXPECT_EQ(text_, "Reply from 10.1.2.3: bytes=18 time=999 TTL=1");
}

TEST_F(ProbeTest, CounterWrapDuringTheSendDoesNoHarm) {
  platform_.clock = 0xFFFFFFF6u;  // wraps 10 ms into the send
  platform_.script = {ReplyAfter(15)};
  EXPECT_EQ(Ping(), PingReply);
  EXPECT_EQ(text_, "Reply from 10.1.2.3: bytes=32 time=15 TTL=128");

  FakeEchoPlatform exact;
  exact.clock = 0xFFFFFFFFu;
  exact.script = {ReplyAfter(1)};
  EXPECT_EQ(PingHost(exact, "ws042", text_), PingReply);
  EXPECT_EQ(text_, "Reply from 10.1.2.3: bytes=32 time=1 TTL=128");
}

TEST_F(ProbeTest, UnresolvedNameSendsNothing) {
  platform_.addresses.clear();
  EXPECT_EQ(Ping("no-such-ws"), PingHostNotFound);
  EXPECT_EQ(text_, "(Error: Could not find host  no-such-ws)");
  EXPECT_THAT(platform_.resolved, ElementsAre("no-such-ws"));
  EXPECT_EQ(platform_.channelsOpened, 0);
  EXPECT_TRUE(platform_.sent.empty());
}

TEST_F(ProbeTest, OnlyTheFirstOfSeveralAddressesIsProbedAndShown) {
  platform_.addresses = {{192, 168, 200, 254}, {10, 0, 0, 7}, {172, 16, 0, 1}};
  platform_.script = {NoReply(), NoReply(), NoReply()};
  EXPECT_EQ(Ping("cluster"), PingTimedOut);
  EXPECT_EQ(text_, "(Error: Request timed out (192.168.200.254))");
  ASSERT_EQ(platform_.sent.size(), 3u);
  for (const SentEcho& echo : platform_.sent)
    EXPECT_EQ(echo.destination, (Ipv4Address{192, 168, 200, 254}));

  FakeEchoPlatform answering;
  answering.addresses = platform_.addresses;
  answering.script = {ReplyAfter(2)};
  EXPECT_EQ(PingHost(answering, "cluster", text_), PingReply);
  EXPECT_EQ(text_, "Reply from 192.168.200.254: bytes=32 time=2 TTL=128");
}

TEST_F(ProbeTest, MissingEchoServiceIsReportedWithoutResolving) {
  platform_.available = false;
  EXPECT_EQ(Ping(), PingUnavailable);
  EXPECT_EQ(text_, "(Error: Could not load ICMP.DLL for PING.)");
  EXPECT_TRUE(platform_.resolved.empty());
  EXPECT_EQ(platform_.channelsOpened, 0);
}

TEST_F(ProbeTest, NoMemoryForTheReplyBuffer) {
  platform_.outOfMemory = true;
  EXPECT_EQ(Ping(), PingOutOfMemory);
  EXPECT_EQ(text_, "(Error: Insufficient Memory)");
  EXPECT_TRUE(platform_.sent.empty());
  // The echo handle opened before the allocation is closed again.
  EXPECT_EQ(platform_.channelsOpened, platform_.channelsClosed);
}

#ifndef _WIN32
// Off Windows the language comes from the locale variables.
class JapaneseProbeTest : public ProbeTest {
 protected:
  static std::string Japanese(int id) { return std::string(TableText(id, Language::kJapanese)); }

 private:
  testing::ScopedEnv all_{"LC_ALL", "ja_JP.UTF-8"};
};

TEST_F(JapaneseProbeTest, EveryResultTextComesFromTheJapaneseTable) {
  platform_.available = false;
  EXPECT_EQ(Ping(), PingUnavailable);
  EXPECT_EQ(text_, Japanese(kTextPingUnavailable));
  platform_.available = true;

  platform_.addresses.clear();
  EXPECT_EQ(Ping("ws9"), PingHostNotFound);
  EXPECT_EQ(text_, Japanese(kTextHostNotFound) + " ws9)");
  platform_.addresses = {kDefaultAddress};

  platform_.outOfMemory = true;
  EXPECT_EQ(Ping(), PingOutOfMemory);
  EXPECT_EQ(text_, Japanese(kTextOutOfMemory));
  platform_.outOfMemory = false;

  platform_.script = {NoReply(), NoReply(), NoReply(), ReplyAfter(0, 32, 64)};
  EXPECT_EQ(Ping(), PingTimedOut);
  EXPECT_EQ(text_, Japanese(kTextRequestTimedOut) + "(10.1.2.3))");
  EXPECT_EQ(Ping(), PingReply);
  EXPECT_EQ(text_, Japanese(kTextReplyFrom) + "10.1.2.3: bytes=32 time<1 TTL=64");
  EXPECT_NE(Japanese(kTextRequestTimedOut), "(Error: Request timed out ");
}
#endif

}  // namespace
}  // namespace glimmora
