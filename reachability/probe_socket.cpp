// Echo through an ICMP socket: the datagram kind when the user's group may open
// one, else a raw socket. Each probe opens its own socket, so probes on many
// threads at once never see each other's state.
#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "common/deadline.h"
#include "common/unique_fd.h"
#include "reachability/probe.h"
#include "reachability/probe_socket.h"

namespace glimmora {

namespace {

using UniqueSocket = UniqueFd;

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
constexpr std::size_t kMaxIpHeaderSize = 60;
// Room for an ICMP error message beyond the echoed payload.
constexpr std::size_t kIcmpErrorAllowance = 8;

std::uint32_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                    static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

UniqueSocket OpenEchoSocket(EchoSocketKind kind) {
  if (kind == EchoSocketKind::kNone) return UniqueSocket();
  const int type = kind == EchoSocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW;
  UniqueSocket socket(::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!socket) return socket;
  if (kind == EchoSocketKind::kDatagram) {
    // The reply's TTL comes as ancillary data; a datagram socket hides the IP header.
    const int on = 1;
    if (setsockopt(socket.get(), IPPROTO_IP, IP_RECVTTL, &on, sizeof on) != 0) return {};
  } else {
    // Only echo replies are of interest; the kernel drops the rest early.
    icmp_filter filter{};
    filter.data = ~(1u << ICMP_ECHOREPLY);
    setsockopt(socket.get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  }
  return socket;
}

std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) sum += (bytes[i] << 8) | bytes[i + 1];
  if (bytes.size() % 2 != 0) sum += bytes.back() << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// Identifiers of concurrent probes in this process differ; the process id in
// the start keeps them apart from other processes' probes on a raw socket.
std::uint16_t NextIdentifier() {
  static std::atomic<std::uint16_t> next{static_cast<std::uint16_t>(getpid())};
  return next.fetch_add(1, std::memory_order_relaxed);
}

// An echo request of ICMP or ICMPv6 `type`; the checksum is left at zero.
std::vector<std::uint8_t> EchoRequest(std::uint8_t type, std::uint16_t identifier,
                                      std::uint16_t sequence,
                                      std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> request(kIcmpHeaderSize + payload.size(), 0);
  request[0] = type;
  request[4] = static_cast<std::uint8_t>(identifier >> 8);
  request[5] = static_cast<std::uint8_t>(identifier);
  request[6] = static_cast<std::uint8_t>(sequence >> 8);
  request[7] = static_cast<std::uint8_t>(sequence);
  std::memcpy(request.data() + kIcmpHeaderSize, payload.data(), payload.size());
  return request;
}

// Sends the request and waits until `receive` takes a message as its reply.
// Anything that is not the reply is passed over, and the wait goes on for
// what is left of the timeout.
template <typename Address, typename Receive>
bool SendAndAwait(int socket, const std::vector<std::uint8_t>& request, const Address& to,
                  std::uint32_t timeoutMs, Receive receive) {
  const std::uint32_t start = MonotonicMilliseconds();
  if (sendto(socket, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to),
             sizeof to) != static_cast<ssize_t>(request.size())) {
    return false;
  }
  for (;;) {
    const std::uint32_t waited = MonotonicMilliseconds() - start;
    if (waited >= timeoutMs) return false;
    pollfd ready{socket, POLLIN, 0};
    const int polled = poll(&ready, 1, static_cast<int>(timeoutMs - waited));
    if (polled < 0 && errno == EINTR) continue;
    if (polled <= 0) return false;
    if (receive()) return true;
  }
}

// One message waiting on the socket, with its sender and ancillary data.
template <typename Address>
struct ReceivedMessage {
  Address from{};
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int))] = {};
  iovec data{};
  msghdr header{};
  std::span<const std::uint8_t> bytes;

  // False when nothing whole could be read.
  bool Receive(int socket, std::span<std::uint8_t> buffer) {
    data = {buffer.data(), buffer.size()};
    header.msg_name = &from;
    header.msg_namelen = sizeof from;
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    const ssize_t received = recvmsg(socket, &header, MSG_DONTWAIT);
    if (received <= 0 || (header.msg_flags & MSG_TRUNC) != 0) return false;
    bytes = std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(received));
    return true;
  }
  // The int of the ancillary data of that level and type; -1 when there is none.
  int Ancillary(int level, int type) {
    int value = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == level && c->cmsg_type == type)
        std::memcpy(&value, CMSG_DATA(c), sizeof value);
    }
    return value;
  }
};

// Whether an echo reply's identifier and sequence are those of our request;
// on a datagram socket the kernel chose the identifier and delivers only
// replies that carry it.
bool RepliesTo(std::span<const std::uint8_t> icmp, EchoSocketKind kind, std::uint16_t identifier,
               std::uint16_t sequence) {
  const std::uint16_t got = static_cast<std::uint16_t>((icmp[4] << 8) | icmp[5]);
  if (kind == EchoSocketKind::kRaw && got != identifier) return false;
  return static_cast<std::uint16_t>((icmp[6] << 8) | icmp[7]) == sequence;
}

class SocketEchoChannel final : public EchoChannel {
 public:
  SocketEchoChannel(EchoSocketKind kind, UniqueSocket socket)
      : kind_(kind), socket_(std::move(socket)), identifier_(NextIdentifier()) {}

  bool SendEcho(const Ipv4Address& destination, std::span<const std::uint8_t> payload,
                std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                EchoReply& reply) override {
    if (!socket_) return false;
    const std::uint16_t sequence = ++sequence_;

    std::vector<std::uint8_t> request = EchoRequest(ICMP_ECHO, identifier_, sequence, payload);
    const std::uint16_t checksum = InternetChecksum(request);
    request[2] = static_cast<std::uint8_t>(checksum >> 8);
    request[3] = static_cast<std::uint8_t>(checksum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::memcpy(&to.sin_addr, destination.data(), destination.size());
    return SendAndAwait(socket_.get(), request, to, timeoutMs,
                        [&] { return ReceiveReply(destination, sequence, replyBuffer, reply); });
  }

 private:
  // Reads one message; true when it is the reply to our request `sequence`.
  bool ReceiveReply(const Ipv4Address& destination, std::uint16_t sequence,
                    std::span<std::uint8_t> buffer, EchoReply& reply) {
    ReceivedMessage<sockaddr_in> message;
    if (!message.Receive(socket_.get(), buffer)) return false;
    if (std::memcmp(&message.from.sin_addr, destination.data(), destination.size()) != 0)
      return false;

    std::span<const std::uint8_t> icmp = message.bytes;
    int timeToLive = -1;
    if (kind_ == EchoSocketKind::kRaw) {
      // A raw socket hands over the IP header too.
      if (icmp.size() < kMinIpHeaderSize || (icmp[0] >> 4) != 4) return false;
      const std::size_t headerSize = static_cast<std::size_t>(icmp[0] & 0x0f) * 4;
      if (headerSize < kMinIpHeaderSize || icmp.size() < headerSize) return false;
      timeToLive = icmp[8];
      icmp = icmp.subspan(headerSize);
    } else {
      timeToLive = message.Ancillary(IPPROTO_IP, IP_TTL);
    }
    if (icmp.size() < kIcmpHeaderSize || icmp[0] != ICMP_ECHOREPLY || icmp[1] != 0) return false;
    if (!RepliesTo(icmp, kind_, identifier_, sequence)) return false;

    reply.dataSize = static_cast<int>(icmp.size() - kIcmpHeaderSize);
    reply.timeToLive = timeToLive < 0 ? 0 : timeToLive;
    return true;
  }

  EchoSocketKind kind_;
  UniqueSocket socket_;
  std::uint16_t identifier_;
  std::uint16_t sequence_ = 0;
};

// ICMPv6 echoes: the kernel fills in the checksum and hands over no IP header;
// the reply's hop limit comes as ancillary data on both kinds of socket.
UniqueSocket OpenEcho6Socket(EchoSocketKind kind) {
  if (kind == EchoSocketKind::kNone) return UniqueSocket();
  const int type = kind == EchoSocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW;
  UniqueSocket socket(::socket(AF_INET6, type | SOCK_CLOEXEC, IPPROTO_ICMPV6));
  if (!socket) return socket;
  const int on = 1;
  if (setsockopt(socket.get(), IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on) != 0) return {};
  if (kind == EchoSocketKind::kRaw) {
    icmp6_filter filter{};
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
    setsockopt(socket.get(), IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
  }
  return socket;
}

class SocketEcho6Channel final : public EchoChannel {
 public:
  SocketEcho6Channel(EchoSocketKind kind, UniqueSocket socket)
      : kind_(kind), socket_(std::move(socket)), identifier_(NextIdentifier()) {}

  bool SendEcho(const Ipv4Address&, std::span<const std::uint8_t>, std::span<std::uint8_t>,
                std::uint32_t, EchoReply&) override {
    return false;
  }

  bool SendEcho6(const Ipv6Address& destination, std::span<const std::uint8_t> payload,
                 std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                 EchoReply& reply) override {
    if (!socket_) return false;
    const std::uint16_t sequence = ++sequence_;
    const std::vector<std::uint8_t> request =
        EchoRequest(ICMP6_ECHO_REQUEST, identifier_, sequence, payload);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    std::memcpy(&to.sin6_addr, destination.data(), destination.size());
    return SendAndAwait(socket_.get(), request, to, timeoutMs,
                        [&] { return ReceiveReply(destination, sequence, replyBuffer, reply); });
  }

 private:
  bool ReceiveReply(const Ipv6Address& destination, std::uint16_t sequence,
                    std::span<std::uint8_t> buffer, EchoReply& reply) {
    ReceivedMessage<sockaddr_in6> message;
    if (!message.Receive(socket_.get(), buffer)) return false;
    if (std::memcmp(&message.from.sin6_addr, destination.data(), destination.size()) != 0)
      return false;
    const std::span<const std::uint8_t> icmp = message.bytes;
    if (icmp.size() < kIcmpHeaderSize || icmp[0] != ICMP6_ECHO_REPLY || icmp[1] != 0) return false;
    if (!RepliesTo(icmp, kind_, identifier_, sequence)) return false;
    const int hopLimit = message.Ancillary(IPPROTO_IPV6, IPV6_HOPLIMIT);
    reply.dataSize = static_cast<int>(icmp.size() - kIcmpHeaderSize);
    reply.timeToLive = hopLimit < 0 ? 0 : hopLimit;
    return true;
  }

  EchoSocketKind kind_;
  UniqueSocket socket_;
  std::uint16_t identifier_;
  std::uint16_t sequence_ = 0;
};

// The system resolver's IPv6 addresses of a name, in its order; an IPv4
// address mapped into IPv6 is not one.
std::vector<Ipv6Address> LookUpIpv6(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  std::vector<Ipv6Address> addresses;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET6 || entry->ai_addrlen < sizeof(sockaddr_in6)) continue;
    const auto* where = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
    if (IN6_IS_ADDR_V4MAPPED(&where->sin6_addr)) continue;
    Ipv6Address address;
    std::memcpy(address.data(), &where->sin6_addr, address.size());
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

// The system resolver's IPv4 addresses of a name, in its order.
std::vector<Ipv4Address> LookUpIpv4(const std::string& name) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  // One entry per address, not one per socket type.
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  std::vector<Ipv4Address> addresses;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    Ipv4Address address;
    std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr,
                address.size());
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

class SocketEchoPlatform final : public EchoPlatform {
 public:
  explicit SocketEchoPlatform(EchoSocketKind kind) : kind_(kind) {}

  bool Available() const override { return kind_ != EchoSocketKind::kNone; }

  std::vector<Ipv4Address> ResolveIpv4(const std::string& name, const Deadline& deadline) override {
    // The lookup has no time-out of its own (an unreachable name server holds
    // it for long); under a deadline it is waited for only until then, and a
    // lookup given up on counts as a name not found.
    return CallBeforeDeadline<std::vector<Ipv4Address>>(deadline,
                                                        [name] { return LookUpIpv4(name); })
        .value_or(std::vector<Ipv4Address>());
  }

  std::unique_ptr<EchoChannel> OpenChannel() override {
    return std::make_unique<SocketEchoChannel>(kind_, OpenEchoSocket(kind_));
  }

  std::vector<Ipv6Address> ResolveIpv6(const std::string& name, const Deadline& deadline) override {
    return CallBeforeDeadline<std::vector<Ipv6Address>>(deadline,
                                                        [name] { return LookUpIpv6(name); })
        .value_or(std::vector<Ipv6Address>());
  }

  std::unique_ptr<EchoChannel> OpenIpv6Channel() override {
    // The kind chosen for IPv4 may not open for IPv6 (ping_group_range is
    // one setting for both, but a raw socket may be refused); the other is tried.
    UniqueSocket socket = OpenEcho6Socket(kind_);
    EchoSocketKind kind = kind_;
    if (!socket && kind_ != EchoSocketKind::kNone) {
      kind = kind_ == EchoSocketKind::kDatagram ? EchoSocketKind::kRaw : EchoSocketKind::kDatagram;
      socket = OpenEcho6Socket(kind);
    }
    return std::make_unique<SocketEcho6Channel>(kind, std::move(socket));
  }

  std::string Ipv6Text(const Ipv6Address& address) override {
    char text[INET6_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET6, address.data(), text, sizeof text) == nullptr) {
      return EchoPlatform::Ipv6Text(address);
    }
    return text;
  }

  std::size_t ReplyBufferSize(std::size_t payloadSize) const override {
    return kMaxIpHeaderSize + kIcmpHeaderSize + payloadSize + kIcmpErrorAllowance;
  }

  std::uint32_t TickCount() override { return MonotonicMilliseconds(); }

  EchoSocketKind kind() const { return kind_; }
  void set_kind(EchoSocketKind kind) { kind_ = kind; }

 private:
  EchoSocketKind kind_;
};

// The process-wide platform; LoadIcmpLibrary sets its kind before any other
// thread exists, and it is only read after that.
SocketEchoPlatform& ProcessPlatform() {
  static SocketEchoPlatform platform(EchoSocketKind::kNone);
  return platform;
}

}  // namespace

int LoadIcmpLibrary() {
  for (EchoSocketKind kind : {EchoSocketKind::kDatagram, EchoSocketKind::kRaw}) {
    if (CanOpenEchoSocket(kind)) {
      ProcessPlatform().set_kind(kind);
      return 0;
    }
  }
  ProcessPlatform().set_kind(EchoSocketKind::kNone);
  return -1;
}

EchoSocketKind LoadedEchoSocketKind() {
  return ProcessPlatform().kind();
}

bool CanOpenEchoSocket(EchoSocketKind kind) {
  return static_cast<bool>(OpenEchoSocket(kind));
}

std::unique_ptr<EchoPlatform> MakeSocketEchoPlatform(EchoSocketKind kind) {
  return std::make_unique<SocketEchoPlatform>(kind);
}

EchoPlatform& SystemEchoPlatform() {
  return ProcessPlatform();
}

SocketLibraryUse::SocketLibraryUse() : started_(true) {}
SocketLibraryUse::~SocketLibraryUse() = default;

}  // namespace glimmora
