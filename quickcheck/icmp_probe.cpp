#include "quickcheck/icmp_probe.h"

#include "reachability/probe.h"

namespace glimmora {

int IcmpProbe::Ping(const std::string& workstation, std::string& resultText) {
  return PingHost(workstation, resultText);
}

}  // namespace glimmora
