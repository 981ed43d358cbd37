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

int PingHost(EchoPlatform& platform, const std::string& workstation, std::string& resultText,
             const Deadline& deadline) {
  if (!platform.Available()) {
    resultText = LoadText(kTextPingUnavailable);
    return PingUnavailable;
  }

  const std::vector<Ipv4Address> addresses = platform.ResolveIpv4(workstation, deadline);
  if (addresses.empty()) {
    // The text ends in a blank, so two blanks stand before the name.
    resultText = FormatText("%s %s)", LoadText(kTextHostNotFound).c_str(), workstation.c_str());
    return PingHostNotFound;
  }
  const Ipv4Address destination = addresses.front();
  const std::string dotted = DottedAddress(destination);

  const std::unique_ptr<EchoChannel> channel = platform.OpenChannel();
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
    const bool replied =
        channel && channel->SendEcho(destination, {payload, kEchoPayload.size()},
                                     {replyBuffer.get(), replySize}, kEchoTimeoutMs, reply);
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
