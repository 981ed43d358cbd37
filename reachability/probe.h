#pragma once
// Does a workstation answer an ICMP echo? Three attempts of 1000 ms each.

#include <string>

#include "common/deadline.h"

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
// Safe to call from several threads at once. The name lookup, which has no
// time-out of its own, is waited for only until the deadline, if one is given.
int PingHost(const std::string& workstation, std::string& resultText,
             const Deadline& deadline = Deadline());

// Keeps the system's socket library started while it lives (Windows Sockets 2.0
// on Windows, nothing elsewhere). Name resolution needs it; every thread or
// front end that probes without the program's start-up holds one.
class SocketLibraryUse {
 public:
  SocketLibraryUse();
  ~SocketLibraryUse();
  SocketLibraryUse(const SocketLibraryUse&) = delete;
  SocketLibraryUse& operator=(const SocketLibraryUse&) = delete;

  bool started() const { return started_; }

 private:
  bool started_ = false;
};

}  // namespace glimmora
