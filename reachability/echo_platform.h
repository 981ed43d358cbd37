#pragma once
// What the probe needs from the system: name resolution, an echo handle that
// sends one request and waits for its reply, and a millisecond counter. The
// attempt sequence is written once against this; ICMP.DLL on Windows and ICMP
// sockets elsewhere implement it, and tests drive it with a fake echo and clock.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/deadline.h"

namespace glimmora {

// Four bytes in network order.
using Ipv4Address = std::array<std::uint8_t, 4>;
// Sixteen bytes in network order.
using Ipv6Address = std::array<std::uint8_t, 16>;

// Sent without a terminating zero: 32 bytes.
inline constexpr std::string_view kEchoPayload = "123456789-123456789-123456789-12";
inline constexpr std::uint32_t kEchoTimeoutMs = 1000;
inline constexpr int kEchoAttempts = 3;

struct EchoReply {
  int dataSize = 0;  // payload bytes the reply carried
  int timeToLive = 0;
};

// One echo handle. It lives for one probe, so concurrent probes never share one.
class EchoChannel {
 public:
  virtual ~EchoChannel() = default;

  // Sends one request to `destination` and waits up to timeoutMs for its reply.
  // replyBuffer is the probe's zero-filled scratch space of ReplyBufferSize()
  // bytes. True, with `reply` filled, when the reply arrived; false when none
  // came in time or the send failed.
  virtual bool SendEcho(const Ipv4Address& destination, std::span<const std::uint8_t> payload,
                        std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                        EchoReply& reply) = 0;
  // The same as an ICMPv6 echo, on a channel of OpenIpv6Channel.
  virtual bool SendEcho6(const Ipv6Address& destination, std::span<const std::uint8_t> payload,
                         std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                         EchoReply& reply);
};

class EchoPlatform {
 public:
  virtual ~EchoPlatform() = default;

  // False when the echo service could not be loaded.
  virtual bool Available() const = 0;
  // The IPv4 addresses of a name or dotted address, in the resolver's order;
  // empty when it cannot be resolved, or not resolved by the deadline.
  virtual std::vector<Ipv4Address> ResolveIpv4(const std::string& name,
                                               const Deadline& deadline) = 0;
  // Never null. When the system refuses a handle, every send on it fails.
  virtual std::unique_ptr<EchoChannel> OpenChannel() = 0;
  // For a name without IPv4 addresses: its IPv6 addresses (none here), a
  // channel for ICMPv6 echoes (one whose every send fails here) and the text
  // of an address as the system writes it.
  virtual std::vector<Ipv6Address> ResolveIpv6(const std::string& name, const Deadline& deadline);
  virtual std::unique_ptr<EchoChannel> OpenIpv6Channel();
  virtual std::string Ipv6Text(const Ipv6Address& address);
  // Bytes the reply buffer needs for one reply to a payload of this size.
  virtual std::size_t ReplyBufferSize(std::size_t payloadSize) const = 0;
  // Zero-filled; null when the memory is not there.
  virtual std::unique_ptr<std::uint8_t[]> AllocateReplyBuffer(std::size_t size);
  // Milliseconds from a counter that only moves forward and wraps at 2^32.
  virtual std::uint32_t TickCount() = 0;
};

// The platform the process-wide PingHost uses, prepared by LoadIcmpLibrary.
EchoPlatform& SystemEchoPlatform();

// The host part of a workstation name: an IPv6 address loses the brackets
// it may be written in ("[::1]").
std::string HostOfWorkstationName(const std::string& name);

// PingHost against a given platform.
int PingHost(EchoPlatform& platform, const std::string& workstation, std::string& resultText,
             const Deadline& deadline = Deadline());

}  // namespace glimmora
