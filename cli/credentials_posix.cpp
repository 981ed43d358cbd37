#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/credentials.h"
#include "common/unique_fd.h"

namespace glimmora::cli {
namespace {

bool ReadCredentialsFile(const std::string& path, std::string* text, bool* readableByOthers,
                         std::string* error) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  *readableByOthers = (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
  // The file may hold a password: room for all of it at once, so that no
  // buffer with a part of it is freed unwiped, and the chunk wiped at the end.
  WipeString(text);
  if (info.st_size > 0) text->reserve(static_cast<std::size_t>(info.st_size));
  char buffer[4096];
  struct WipeOnReturn {
    char* bytes;
    std::size_t size;
    ~WipeOnReturn() { WipeMemory(bytes, size); }
  } wipe{buffer, sizeof buffer};
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = std::strerror(errno);
      return false;
    }
    if (got == 0) return true;
    text->append(buffer, static_cast<std::size_t>(got));
  }
}

// Asks on the controlling terminal with echo off; nullopt without one.
std::optional<std::string> PromptWithoutEcho(const std::string& prompt) {
  UniqueFd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty) return std::nullopt;
  termios saved{};
  if (::tcgetattr(tty.get(), &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  if (::write(tty.get(), prompt.data(), prompt.size()) < 0) return std::nullopt;
  if (::tcsetattr(tty.get(), TCSAFLUSH, &quiet) != 0) return std::nullopt;
  std::string line;
  line.reserve(256);  // a typed password is not spread over freed buffers
  bool ended = false;
  char c;
  for (;;) {
    const ssize_t got = ::read(tty.get(), &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (c == '\n') {
      ended = true;
      break;
    }
    line.push_back(c);
  }
  ::tcsetattr(tty.get(), TCSAFLUSH, &saved);
  if (!ended && line.empty()) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

CredentialSources SystemCredentialSources() {
  CredentialSources sources;
  sources.environment = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  sources.readFile = ReadCredentialsFile;
  sources.promptPassword = PromptWithoutEcho;
  return sources;
}

}  // namespace glimmora::cli
