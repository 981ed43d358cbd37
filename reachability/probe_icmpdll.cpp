// Echo through "ICMP.DLL", names through Windows Sockets.
// clang-format off
#include <winsock2.h>
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
