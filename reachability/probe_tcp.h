#pragma once
// Does a TCP port of a host accept a connection? Off Windows only: the
// Remote Registry back end asks it of port 445 once a connect has failed.

#include <string>

#include "common/deadline.h"

namespace glimmora {

enum class PortReach { kReachable, kRefused, kSilent, kUnresolved };

// Tries the port on every address of the host until one accepts or the
// deadline passes. kRefused when at least one address refused and none
// accepted; kSilent when none answered in time.
PortReach ProbeTcpPort(const std::string& host, const std::string& port, const Deadline& deadline);

// The SMB port, which carries the named pipes of the Remote Registry.
inline PortReach ProbeSmbPort(const std::string& host, const Deadline& deadline) {
  return ProbeTcpPort(host, "445", deadline);
}

}  // namespace glimmora
