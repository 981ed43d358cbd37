// The TCP port probe against sockets of the test's own on loopback.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <vector>

#include "common/deadline.h"
#include "common/unique_fd.h"
#include "reachability/probe_tcp.h"

namespace glimmora {
namespace {

using namespace std::chrono_literals;

Deadline In(std::chrono::milliseconds time) {
  return Deadline(DeadlineClock::now() + time);
}

// A TCP socket bound to an ephemeral port of 127.0.0.1, listening when asked.
struct LoopbackPort {
  UniqueFd fd;
  std::string port;
};

LoopbackPort BindLoopback(bool listening, int backlog = 16) {
  LoopbackPort bound{UniqueFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), {}};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (!bound.fd || ::bind(bound.fd.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(bound.fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
      (listening && ::listen(bound.fd.get(), backlog) != 0)) {
    return {};
  }
  bound.port = std::to_string(ntohs(address.sin_port));
  return bound;
}

TEST(TcpPortProbe, ListeningPortIsReachable) {
  const LoopbackPort listener = BindLoopback(true);
  ASSERT_FALSE(listener.port.empty());
  EXPECT_EQ(ProbeTcpPort("127.0.0.1", listener.port, In(5s)), PortReach::kReachable);
  EXPECT_EQ(ProbeTcpPort("localhost", listener.port, Deadline()), PortReach::kReachable);
}

TEST(TcpPortProbe, PortWithoutListenerRefuses) {
  // Bound but not listening: the port stays ours, and a connect to it is reset.
  const LoopbackPort closed = BindLoopback(false);
  ASSERT_FALSE(closed.port.empty());
  EXPECT_EQ(ProbeTcpPort("127.0.0.1", closed.port, In(5s)), PortReach::kRefused);
}

TEST(TcpPortProbe, UnknownNameIsUnresolved) {
  // The .invalid top-level domain is reserved never to resolve.
  EXPECT_EQ(ProbeTcpPort("glimmora-port-test.invalid", "445", In(5s)), PortReach::kUnresolved);
}

TEST(TcpPortProbe, FullListenQueueStaysSilentUntilTheDeadline) {
  // A listener that never accepts: once its queue is full the kernel drops
  // further connection requests without an answer.
  const LoopbackPort listener = BindLoopback(true, 0);
  ASSERT_FALSE(listener.port.empty());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(std::stoi(listener.port)));
  std::vector<UniqueFd> queued;
  for (int i = 0; i < 4; ++i) {
    queued.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    ::connect(queued.back().get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ProbeTcpPort("127.0.0.1", listener.port, In(400ms)), PortReach::kSilent);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

}  // namespace
}  // namespace glimmora
