#include "test_network.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace glimmora::testing {

int RunShell(const std::string& command, std::string* output) {
  // Braces, so that a redirection inside the command still applies to it.
  std::FILE* pipe = popen(("{ " + command + "; } 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char chunk[512];
  std::size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) text.append(chunk, got);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::unique_ptr<TestNetwork> TestNetwork::Create(std::string* whyNot) {
  if (geteuid() != 0) {
    *whyNot = "needs root to create a network namespace";
    return nullptr;
  }
  if (RunShell("ip netns list") != 0) {
    *whyNot = "`ip netns` is not available";
    return nullptr;
  }
  // Names and the /30 follow the process id, so test processes running at the
  // same time on one machine never meet; a counter keeps one process's apart.
  static std::atomic<int> counter{0};
  const int pid = static_cast<int>(getpid());
  const int serial = counter++;
  const int block = pid % 16384;
  const std::string net = "10.213." + std::to_string(block / 64) + ".";
  const int base = (block % 64) * 4;

  std::unique_ptr<TestNetwork> network(new TestNetwork);
  network->name_ = "glimmora-probe-" + std::to_string(pid) + "-" + std::to_string(serial);
  network->outerLink_ = "gp" + std::to_string(pid) + "o" + std::to_string(serial);
  network->innerLink_ = "gp" + std::to_string(pid) + "i" + std::to_string(serial);
  network->outerAddress_ = net + std::to_string(base + 1);
  network->innerAddress_ = net + std::to_string(base + 2);
  network->Remove();  // whatever a crashed run of the same process id left

  const TestNetwork& n = *network;
  const std::string steps[] = {
      "ip netns add " + n.name_,
      "ip link add " + n.outerLink_ + " type veth peer name " + n.innerLink_ + " netns " + n.name_,
      "ip addr add " + n.outerAddress_ + "/30 dev " + n.outerLink_,
      "ip link set " + n.outerLink_ + " up",
      "ip -n " + n.name_ + " addr add " + n.innerAddress_ + "/30 dev " + n.innerLink_,
      "ip -n " + n.name_ + " link set " + n.innerLink_ + " up",
      "ip -n " + n.name_ + " link set lo up",
  };
  for (const std::string& step : steps) {
    std::string output;
    if (RunShell(step, &output) != 0) {
      *whyNot = "cannot set up a test network: `" + step + "`: " + output;
      return nullptr;  // the destructor removes what was made
    }
  }
  return network;
}

TestNetwork::~TestNetwork() {
  Remove();
}

void TestNetwork::Remove() {
  // Removing the namespace removes the inner end and with it the pair.
  RunShell("ip netns del " + name_);
  RunShell("ip link del " + outerLink_);
}

bool TestNetwork::Set(const std::string& setting) {
  return RunShell(Inside() + "sysctl -q -w " + setting) == 0;
}

bool TestNetwork::RunInside(const std::function<void()>& body) {
  bool joined = false;
  // setns changes only the calling thread, so the test's own thread stays here.
  std::thread worker([&] {
    const int fd = open(("/run/netns/" + name_).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    joined = setns(fd, CLONE_NEWNET) == 0;
    close(fd);
    if (joined) body();
  });
  worker.join();
  return joined;
}

}  // namespace glimmora::testing
