#pragma once
// Passes every call through to a real platform and counts the echo handles
// opened and the requests sent, so a test against the real system can tell
// that no echo was sent or that exactly three were.

#include <atomic>

#include "reachability/echo_platform.h"

namespace glimmora::testing {

class CountingPlatform : public EchoPlatform {
 public:
  explicit CountingPlatform(EchoPlatform& real) : real_(real) {}

  bool Available() const override { return real_.Available(); }
  std::vector<Ipv4Address> ResolveIpv4(const std::string& name, const Deadline& deadline) override {
    return real_.ResolveIpv4(name, deadline);
  }
  std::unique_ptr<EchoChannel> OpenChannel() override {
    ++channelsOpened;
    return std::make_unique<Channel>(real_.OpenChannel(), sends);
  }
  std::vector<Ipv6Address> ResolveIpv6(const std::string& name, const Deadline& deadline) override {
    return real_.ResolveIpv6(name, deadline);
  }
  std::unique_ptr<EchoChannel> OpenIpv6Channel() override {
    ++ipv6ChannelsOpened;
    return std::make_unique<Channel>(real_.OpenIpv6Channel(), sends);
  }
  std::string Ipv6Text(const Ipv6Address& address) override { return real_.Ipv6Text(address); }
  std::size_t ReplyBufferSize(std::size_t payloadSize) const override {
    return real_.ReplyBufferSize(payloadSize);
  }
  std::unique_ptr<std::uint8_t[]> AllocateReplyBuffer(std::size_t size) override {
    return real_.AllocateReplyBuffer(size);
  }
  std::uint32_t TickCount() override { return real_.TickCount(); }

  std::atomic<int> channelsOpened{0};
  std::atomic<int> ipv6ChannelsOpened{0};
  std::atomic<int> sends{0};

 private:
  class Channel : public EchoChannel {
   public:
    Channel(std::unique_ptr<EchoChannel> real, std::atomic<int>& sends)
        : real_(std::move(real)), sends_(sends) {}
    bool SendEcho(const Ipv4Address& destination, std::span<const std::uint8_t> payload,
                  std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                  EchoReply& reply) override {
      ++sends_;
      return real_->SendEcho(destination, payload, replyBuffer, timeoutMs, reply);
    }
    bool SendEcho6(const Ipv6Address& destination, std::span<const std::uint8_t> payload,
                   std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                   EchoReply& reply) override {
      ++sends_;
      return real_->SendEcho6(destination, payload, replyBuffer, timeoutMs, reply);
    }

   private:
    std::unique_ptr<EchoChannel> real_;
    std::atomic<int>& sends_;
  };

  EchoPlatform& real_;
};

}  // namespace glimmora::testing
