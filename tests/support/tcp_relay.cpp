// A TCP relay on loopback for the Remote Registry tests and benchmarks:
//
//   tcp_relay LISTEN_ADDRESS PORT TARGET_ADDRESS PORT [--delay-ms D] [--cut-after N]
//
// Every connection to the listening address is carried to the target. With
// --delay-ms each direction holds what it carries for D/2 ms, so that every
// round trip takes D ms longer, as over a slow link. With --cut-after the
// relay ends a connection as soon as the server has sent N whole SMB messages
// on it (a link that breaks at a chosen moment). It prints "ready" once it
// listens, and on each connection's end "messages N" (the server's messages).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::chrono::microseconds halfDelay{0};
  long cutAfter = -1;
};

int Listen(const char* address, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::inet_pton(AF_INET, address, &sa.sin_addr) != 1 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 256) != 0) {
    std::perror("tcp_relay: listen");
    std::exit(1);
  }
  return fd;
}

int Connect(const char* address, int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::inet_pton(AF_INET, address, &sa.sin_addr) != 1 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    if (fd >= 0) ::close(fd);
    return -1;
  }
  return fd;
}

bool WriteAll(int fd, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::send(fd, data, length, MSG_NOSIGNAL);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

struct Link {
  int client = -1;
  int server = -1;
  std::atomic<bool> cut{false};
  std::atomic<long> serverMessages{0};
  void Cut() {
    if (cut.exchange(true)) return;
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
  }
};

// One direction: a reader that stamps what it reads and a writer that sends
// it when its time has come.
void Carry(const std::shared_ptr<Link>& link, int from, int to, bool fromServer,
           const Options& options) {
  struct Chunk {
    Clock::time_point due;
    std::string bytes;
    bool end = false;
  };
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Chunk> queue;
  std::thread writer([&] {
    for (;;) {
      Chunk chunk;
      {
        std::unique_lock lock(mutex);
        ready.wait(lock, [&] { return !queue.empty(); });
        chunk = std::move(queue.front());
        queue.pop_front();
      }
      std::this_thread::sleep_until(chunk.due);
      if (chunk.end || !WriteAll(to, chunk.bytes.data(), chunk.bytes.size())) break;
    }
    link->Cut();
  });
  // SMB messages from the server: a 4-byte header (a zero and a 24-bit
  // length) and that many bytes.
  std::size_t messageLeft = 0;
  std::size_t headerHave = 0;
  unsigned char header[4];
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    std::size_t take = static_cast<std::size_t>(n);
    bool cutHere = false;
    if (fromServer) {
      std::size_t i = 0;
      while (i < static_cast<std::size_t>(n)) {
        if (messageLeft == 0) {
          header[headerHave++] = static_cast<unsigned char>(buffer[i++]);
          if (headerHave == 4) {
            messageLeft =
                (std::size_t{header[1]} << 16) | (std::size_t{header[2]} << 8) | header[3];
            headerHave = 0;
            if (messageLeft == 0) ++link->serverMessages;
          }
          continue;
        }
        const std::size_t step = std::min(messageLeft, static_cast<std::size_t>(n) - i);
        i += step;
        messageLeft -= step;
        if (messageLeft == 0 && ++link->serverMessages == options.cutAfter) {
          take = i;
          cutHere = true;
          break;
        }
      }
    }
    {
      std::lock_guard lock(mutex);
      queue.push_back({Clock::now() + options.halfDelay, std::string(buffer, take), false});
      if (cutHere) queue.push_back({Clock::now() + options.halfDelay, {}, true});
    }
    ready.notify_one();
    if (cutHere) break;
  }
  {
    std::lock_guard lock(mutex);
    queue.push_back({Clock::now() + options.halfDelay, {}, true});
  }
  ready.notify_one();
  writer.join();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: tcp_relay LISTEN_ADDRESS PORT TARGET_ADDRESS PORT [--delay-ms D] "
                 "[--cut-after N]\n");
    return 2;
  }
  Options options;
  for (int i = 5; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--delay-ms") == 0) {
      options.halfDelay = std::chrono::microseconds(std::atol(argv[i + 1]) * 500);
    } else if (std::strcmp(argv[i], "--cut-after") == 0) {
      options.cutAfter = std::atol(argv[i + 1]);
    }
  }
  const char* target = argv[3];
  const int targetPort = std::atoi(argv[4]);
  const int listener = Listen(argv[1], std::atoi(argv[2]));
  std::printf("ready\n");
  std::fflush(stdout);
  for (;;) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::thread([client, target, targetPort, options] {
      auto link = std::make_shared<Link>();
      link->client = client;
      link->server = Connect(target, targetPort);
      if (link->server >= 0) {
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(link->server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread up([&] { Carry(link, client, link->server, false, options); });
        Carry(link, link->server, client, true, options);
        up.join();
        std::fprintf(stderr, "messages %ld\n", link->serverMessages.load());
        ::close(link->server);
      }
      ::close(client);
    }).detach();
  }
}
