#pragma once
// A private network for the probe's tests on Linux: a namespace with its own
// loopback, joined to this one by a veth pair on a /30 that only this test
// process uses. Needs root and `ip netns`. Removed when the object goes.

#include <functional>
#include <memory>
#include <string>

namespace glimmora::testing {

// Runs a shell command; its exit status, with stdout and stderr in *output.
int RunShell(const std::string& command, std::string* output = nullptr);

class TestNetwork {
 public:
  // Null, with the reason in *whyNot, when this machine or user cannot have one.
  static std::unique_ptr<TestNetwork> Create(std::string* whyNot);
  ~TestNetwork();
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  const std::string& name() const { return name_; }
  // This side's end of the pair, and the namespace's end.
  const std::string& outerAddress() const { return outerAddress_; }
  const std::string& innerAddress() const { return innerAddress_; }

  // A sysctl setting ("net.ipv4.icmp_echo_ignore_all=1") inside the namespace.
  bool Set(const std::string& setting);
  // A command line prefix that runs what follows inside the namespace.
  std::string Inside() const { return "ip netns exec " + name_ + " "; }
  // Runs body on a thread that has joined the namespace; false if it could not.
  bool RunInside(const std::function<void()>& body);

 private:
  TestNetwork() = default;
  void Remove();

  std::string name_;
  std::string outerLink_;
  std::string innerLink_;
  std::string outerAddress_;
  std::string innerAddress_;
};

}  // namespace glimmora::testing
