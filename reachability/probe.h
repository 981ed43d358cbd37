#pragma once
// Does a workstation answer an ICMP echo? Three attempts of 1000 ms each.

#include <string>

namespace glimmora {

enum PingResult : int {
  PingReply = 0,
  PingHostNotFound = 1,
  PingTimedOut = 2,
  PingUnavailable = -1,
  PingOutOfMemory = -2,
};

// Loads the echo service once, at start-up, before any other thread exists.
// 0 when it is usable, -1 when not (every probe then gives PingUnavailable).
int LoadIcmpLibrary();

// Resolves the name, probes its first IPv4 address and fills resultText with the
// line to show. Above 0: unreachable; 0 or below: the caller goes on.
int PingHost(const std::string& workstation, std::string& resultText);

}  // namespace glimmora
