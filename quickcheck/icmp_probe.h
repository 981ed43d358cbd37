#pragma once
// The check's probe on the network: the ICMP echo of the reachability module.

#include "quickcheck/check_sequence.h"

namespace glimmora {

class IcmpProbe : public ReachabilityProbe {
 public:
  int Ping(const std::string& workstation, std::string& resultText) override;
};

}  // namespace glimmora
