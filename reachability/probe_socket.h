#pragma once
// The ICMP socket echo used off Windows. Exposed for tests that exercise each
// kind of socket on its own.

#include <memory>

#include "reachability/echo_platform.h"

namespace glimmora {

enum class EchoSocketKind {
  kNone,
  // Unprivileged: allowed when net.ipv4.ping_group_range covers the user's group.
  kDatagram,
  // Needs root or CAP_NET_RAW; sees every ICMP message the host receives.
  kRaw,
};

// The kind LoadIcmpLibrary chose: the first of datagram and raw that opens.
EchoSocketKind LoadedEchoSocketKind();

// Whether a socket of this kind can be opened by the calling thread now.
bool CanOpenEchoSocket(EchoSocketKind kind);

// A platform that probes with sockets of the given kind (kNone: unavailable).
std::unique_ptr<EchoPlatform> MakeSocketEchoPlatform(EchoSocketKind kind);

}  // namespace glimmora
