#include "reachability/probe_tcp.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "common/unique_fd.h"
#include "common/unique_handle.h"

namespace glimmora {
namespace {

struct AddrInfoTraits {
  using Handle = addrinfo*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle list) noexcept { freeaddrinfo(list); }
};
using UniqueAddrInfo = UniqueHandle<AddrInfoTraits>;

}  // namespace

PortReach ProbeTcpPort(const std::string& host, const std::string& port, const Deadline& deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // The lookup has no time-out of its own: it is waited for until the
  // deadline only, and one given up on counts as a name not resolved.
  UniqueAddrInfo addresses = CallBeforeDeadline<UniqueAddrInfo>(deadline, [host, port, hints] {
                               addrinfo* found = nullptr;
                               if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0)
                                 return UniqueAddrInfo();
                               return UniqueAddrInfo(found);
                             }).value_or(UniqueAddrInfo());
  if (!addresses) return PortReach::kUnresolved;
  PortReach result = PortReach::kSilent;
  for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    UniqueFd fd(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd) continue;
    int error = 0;
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = errno;
      } else {
        pollfd watch{fd.get(), POLLOUT, 0};
        int ready = 0;
        // In slices, so that a stop request ends the wait as well as the deadline.
        do {
          const auto left = deadline.TimeLeftWithin(kDeadlineStopPoll);
          if (left.count() <= 0) return result;
          ready = ::poll(&watch, 1, static_cast<int>(left.count()));
        } while (ready == 0 || (ready < 0 && errno == EINTR));
        if (ready < 0) return result;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      }
    }
    if (error == 0) return PortReach::kReachable;
    if (error == ECONNREFUSED) result = PortReach::kRefused;
  }
  return result;
}

}  // namespace glimmora
