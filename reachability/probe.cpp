// The attempt sequence of the probe, the same on every platform.
#include <cstdarg>
#include <cstdio>
#include <new>

#include "reachability/echo_platform.h"
#include "reachability/probe.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
std::string
FormatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<std::size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, args);
  }
  va_end(args);
  return text;
}

std::string DottedAddress(const Ipv4Address& address) {
  return FormatText("%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
}

}  // namespace

std::unique_ptr<std::uint8_t[]> EchoPlatform::AllocateReplyBuffer(std::size_t size) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]());
}

bool EchoChannel::SendEcho6(const Ipv6Address&, std::span<const std::uint8_t>,
                            std::span<std::uint8_t>, std::uint32_t, EchoReply&) {
  return false;
}

std::vector<Ipv6Address> EchoPlatform::ResolveIpv6(const std::string&, const Deadline&) {
  return {};
}

std::unique_ptr<EchoChannel> EchoPlatform::OpenIpv6Channel() {
  return OpenChannel();
}

std::string EchoPlatform::Ipv6Text(const Ipv6Address& address) {
  std::string text;
  for (std::size_t i = 0; i < address.size(); i += 2) {
    text += FormatText(i == 0 ? "%x" : ":%x", (address[i] << 8) | address[i + 1]);
  }
  return text;
}

std::string HostOfWorkstationName(const std::string& name) {
  // "[fd00::5]", as URLs write an IPv6 address; a name in brackets stays as it is.
  if (name.size() > 2 && name.front() == '[' && name.back() == ']' &&
      name.find(':') != std::string::npos) {
    return name.substr(1, name.size() - 2);
  }
  return name;
}

int PingHost(EchoPlatform& platform, const std::string& workstation, std::string& resultText,
             const Deadline& deadline) {
  if (!platform.Available()) {
    resultText = LoadText(kTextPingUnavailable);
    return PingUnavailable;
  }

  // A name with an IPv4 address is probed there, as it always was; one with
  // IPv6 addresses only gets an ICMPv6 echo to the first of them. A zone
  // index ("fe80::1%eth0") names no workstation of the network.
  const std::string host = HostOfWorkstationName(workstation);
  const std::vector<Ipv4Address> addresses = platform.ResolveIpv4(host, deadline);
  std::vector<Ipv6Address> addresses6;
  if (addresses.empty() && host.find('%') == std::string::npos) {
    addresses6 = platform.ResolveIpv6(host, deadline);
  }
  if (addresses.empty() && addresses6.empty()) {
    // The text ends in a blank, so two blanks stand before the name.
    resultText = FormatText("%s %s)", LoadText(kTextHostNotFound).c_str(), workstation.c_str());
    return PingHostNotFound;
  }
  const bool ipv6 = addresses.empty();
  const Ipv4Address destination = ipv6 ? Ipv4Address{} : addresses.front();
  const Ipv6Address destination6 = ipv6 ? addresses6.front() : Ipv6Address{};
  const std::string dotted = ipv6 ? platform.Ipv6Text(destination6) : DottedAddress(destination);

  const std::unique_ptr<EchoChannel> channel =
      ipv6 ? platform.OpenIpv6Channel() : platform.OpenChannel();
  const std::size_t replySize = platform.ReplyBufferSize(kEchoPayload.size());
  const std::unique_ptr<std::uint8_t[]> replyBuffer = platform.AllocateReplyBuffer(replySize);
  if (!replyBuffer) {
    resultText = LoadText(kTextOutOfMemory);
    return PingOutOfMemory;
  }

  const auto* payload = reinterpret_cast<const std::uint8_t*>(kEchoPayload.data());
  for (int attempt = 0; attempt < kEchoAttempts; ++attempt) {
    EchoReply reply;
    const std::uint32_t start = platform.TickCount();
    const std::span<const std::uint8_t> request(payload, kEchoPayload.size());
    const std::span<std::uint8_t> buffer(replyBuffer.get(), replySize);
    const bool replied =
        channel && (ipv6 ? channel->SendEcho6(destination6, request, buffer, kEchoTimeoutMs, reply)
                         : channel->SendEcho(destination, request, buffer, kEchoTimeoutMs, reply));
    // Unsigned difference: a wrap of the counter between the two reads does no harm.
    const std::uint32_t elapsed = platform.TickCount() - start;
    if (!replied) continue;

    const std::string replyFrom = LoadText(kTextReplyFrom);
    if (elapsed == 0) {
      resultText = FormatText("%s%s: bytes=%d time<1 TTL=%d", replyFrom.c_str(), dotted.c_str(),
                              reply.dataSize, reply.timeToLive);
    } else {
      resultText = FormatText("%s%s: bytes=%d time=%d TTL=%d", replyFrom.c_str(), dotted.c_str(),
                              reply.dataSize, static_cast<int>(elapsed), reply.timeToLive);
    }
    return PingReply;
  }

  resultText = FormatText("%s(%s))", LoadText(kTextRequestTimedOut).c_str(), dotted.c_str());
  return PingTimedOut;
}

int PingHost(const std::string& workstation, std::string& resultText, const Deadline& deadline) {
  return PingHost(SystemEchoPlatform(), workstation, resultText, deadline);
}

}  // namespace glimmora
