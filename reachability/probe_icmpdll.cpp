// Echo through "ICMP.DLL" (ICMPv6 echoes through iphlpapi.dll, which alone
// has them), names through Windows Sockets.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <ipexport.h>
// clang-format on

#include <cstring>

#include "common/deadline.h"
#include "common/unique_handle.h"
#include "reachability/echo_platform.h"
#include "reachability/probe.h"
#include "reachability/probe_icmpdll.h"

namespace glimmora {

namespace {

// Written once by LoadIcmpLibrary before any other thread exists, read-only after.
IcmpLibrary g_icmpLibrary;

template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

struct EchoHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  // Only opened when all three entry points are there.
  static void Close(Handle h) noexcept { g_icmpLibrary.close(h); }
};
using UniqueEchoHandle = UniqueHandle<EchoHandleTraits>;

// An ICMP error message (8 bytes) may come back in place of the echoed data.
constexpr std::size_t kIcmpErrorAllowance = 8;

class IcmpDllChannel final : public EchoChannel {
 public:
  explicit IcmpDllChannel(UniqueEchoHandle handle) : handle_(std::move(handle)) {}

  bool SendEcho(const Ipv4Address& destination, std::span<const std::uint8_t> payload,
                std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                EchoReply& reply) override {
    // A refused handle fails every send, which then counts as an attempt.
    IPAddr address;
    std::memcpy(&address, destination.data(), sizeof address);
    const DWORD replies =
        g_icmpLibrary.send(handle_.get(), address, const_cast<std::uint8_t*>(payload.data()),
                           static_cast<WORD>(payload.size()), nullptr, replyBuffer.data(),
                           static_cast<DWORD>(replyBuffer.size()), timeoutMs);
    if (replies == 0 || replyBuffer.size() < sizeof(ICMP_ECHO_REPLY)) return false;
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, replyBuffer.data(), sizeof record);
    // A record that reports "destination unreachable" and the like is an
    // answer from a router, not from the workstation.
    if (record.Status != IP_SUCCESS) return false;
    reply.dataSize = record.DataSize;
    reply.timeToLive = record.Options.Ttl;
    return true;
  }

 private:
  UniqueEchoHandle handle_;
};

// The ICMPv6 entry points, looked up once, when a name first has IPv6
// addresses only.
struct Icmp6Library {
  using Create = HANDLE(WINAPI*)();
  using Send = DWORD(WINAPI*)(HANDLE, HANDLE, void*, void*, sockaddr_in6*, sockaddr_in6*, void*,
                              WORD, void*, void*, DWORD, DWORD);
  using Close = BOOL(WINAPI*)(HANDLE);
  Create create = nullptr;
  Send send = nullptr;
  Close close = nullptr;
  bool Complete() const { return create != nullptr && send != nullptr && close != nullptr; }
};

const Icmp6Library& LoadedIcmp6Library() {
  static const Icmp6Library library = [] {
    Icmp6Library entries;
    if (const HMODULE module = LoadLibraryA("iphlpapi.dll")) {
      entries.create = LookUp<Icmp6Library::Create>(module, "Icmp6CreateFile");
      entries.send = LookUp<Icmp6Library::Send>(module, "Icmp6SendEcho2");
      entries.close = LookUp<Icmp6Library::Close>(module, "IcmpCloseHandle");
    }
    return entries;
  }();
  return library;
}

struct Echo6HandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { LoadedIcmp6Library().close(h); }
};
using UniqueEcho6Handle = UniqueHandle<Echo6HandleTraits>;

// The reply record Icmp6SendEcho2 writes before the echoed data.
struct Icmp6EchoReply {
  IPV6_ADDRESS_EX address;
  ULONG status;
  unsigned int roundTripTime;
};

class Icmp6Channel final : public EchoChannel {
 public:
  explicit Icmp6Channel(UniqueEcho6Handle handle) : handle_(std::move(handle)) {}

  bool SendEcho(const Ipv4Address&, std::span<const std::uint8_t>, std::span<std::uint8_t>,
                std::uint32_t, EchoReply&) override {
    return false;
  }

  bool SendEcho6(const Ipv6Address& destination, std::span<const std::uint8_t> payload,
                 std::span<std::uint8_t> replyBuffer, std::uint32_t timeoutMs,
                 EchoReply& reply) override {
    // A handle the system refused fails every send, which counts as an attempt.
    if (!handle_) return false;
    sockaddr_in6 source{};
    source.sin6_family = AF_INET6;
    sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    std::memcpy(&target.sin6_addr, destination.data(), destination.size());
    const DWORD replies = LoadedIcmp6Library().send(
        handle_.get(), nullptr, nullptr, nullptr, &source, &target,
        const_cast<std::uint8_t*>(payload.data()), static_cast<WORD>(payload.size()), nullptr,
        replyBuffer.data(), static_cast<DWORD>(replyBuffer.size()), timeoutMs);
    if (replies == 0 || replyBuffer.size() < sizeof(Icmp6EchoReply)) return false;
    Icmp6EchoReply record;
    std::memcpy(&record, replyBuffer.data(), sizeof record);
    if (record.status != IP_SUCCESS) return false;
    // The record carries neither the data's size nor the hop limit: the
    // echoed data is the payload, and the hop limit is not known (0).
    reply.dataSize = static_cast<std::uint16_t>(payload.size());
    reply.timeToLive = 0;
    return true;
  }

 private:
  UniqueEcho6Handle handle_;
};

// The IPv6 addresses of a name, in the resolver's order.
std::vector<Ipv6Address> LookUpIpv6(const std::string& name) {
  std::vector<Ipv6Address> addresses;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  addrinfo* found = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET6 || entry->ai_addrlen < sizeof(sockaddr_in6)) continue;
    const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ai_addr);
    Ipv6Address bytes;
    std::memcpy(bytes.data(), &address->sin6_addr, bytes.size());
    addresses.push_back(bytes);
  }
  freeaddrinfo(found);
  return addresses;
}

// The IPv4 addresses of a name, in the resolver's order.
std::vector<Ipv4Address> LookUpIpv4(const std::string& name) {
  // Windows Sockets keeps the host entry per thread, so threads do not
  // overwrite each other's result.
  std::vector<Ipv4Address> addresses;
  const hostent* host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET ||
      host->h_length != static_cast<int>(sizeof(Ipv4Address))) {
    return addresses;
  }
  for (char** entry = host->h_addr_list; *entry != nullptr; ++entry) {
    Ipv4Address address;
    std::memcpy(address.data(), *entry, address.size());
    addresses.push_back(address);
  }
  return addresses;
}

class IcmpDllPlatform final : public EchoPlatform {
 public:
  bool Available() const override { return g_icmpLibrary.Complete(); }

  std::vector<Ipv4Address> ResolveIpv4(const std::string& name, const Deadline& deadline) override {
    // The lookup has no time-out of its own; under a deadline it is waited for
    // only until then, and a lookup given up on counts as a name not found.
    return CallBeforeDeadline<std::vector<Ipv4Address>>(deadline,
                                                        [name] { return LookUpIpv4(name); })
        .value_or(std::vector<Ipv4Address>());
  }

  std::unique_ptr<EchoChannel> OpenChannel() override {
    return std::make_unique<IcmpDllChannel>(UniqueEchoHandle(g_icmpLibrary.create()));
  }

  std::vector<Ipv6Address> ResolveIpv6(const std::string& name, const Deadline& deadline) override {
    return CallBeforeDeadline<std::vector<Ipv6Address>>(deadline,
                                                        [name] { return LookUpIpv6(name); })
        .value_or(std::vector<Ipv6Address>());
  }

  std::unique_ptr<EchoChannel> OpenIpv6Channel() override {
    const Icmp6Library& library = LoadedIcmp6Library();
    return std::make_unique<Icmp6Channel>(
        UniqueEcho6Handle(library.Complete() ? library.create() : INVALID_HANDLE_VALUE));
  }

  std::string Ipv6Text(const Ipv6Address& address) override {
    char text[INET6_ADDRSTRLEN] = {};
    if (InetNtopA(AF_INET6, address.data(), text, sizeof text) == nullptr)
      return EchoPlatform::Ipv6Text(address);
    return text;
  }

  // As the echo function documents it: one reply record, the echoed data and
  // room for an ICMP error. A record alone is 40 bytes on 64-bit Windows.
  std::size_t ReplyBufferSize(std::size_t payloadSize) const override {
    return sizeof(ICMP_ECHO_REPLY) + payloadSize + kIcmpErrorAllowance;
  }

  std::uint32_t TickCount() override { return GetTickCount(); }
};

}  // namespace

IcmpLibrary LoadIcmpEntryPoints(const char* libraryName) {
  IcmpLibrary library;
  library.module = LoadLibraryA(libraryName);
  if (library.module == nullptr) return library;
  library.create = LookUp<IcmpCreateFileFunction>(library.module, "IcmpCreateFile");
  library.close = LookUp<IcmpCloseHandleFunction>(library.module, "IcmpCloseHandle");
  library.send = LookUp<IcmpSendEchoFunction>(library.module, "IcmpSendEcho");
  return library;
}

int LoadIcmpLibrary() {
  g_icmpLibrary = LoadIcmpEntryPoints("ICMP.DLL");
  return g_icmpLibrary.Complete() ? 0 : -1;
}

const IcmpLibrary& LoadedIcmpLibrary() {
  return g_icmpLibrary;
}

EchoPlatform& SystemEchoPlatform() {
  static IcmpDllPlatform platform;
  return platform;
}

SocketLibraryUse::SocketLibraryUse() {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

SocketLibraryUse::~SocketLibraryUse() {
  if (started_) WSACleanup();
}

}  // namespace glimmora
