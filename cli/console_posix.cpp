#include <signal.h>

#include <unistd.h>
#include <cstdio>

#include "cli/console.h"

namespace glimmora::cli {

namespace {

std::atomic<std::int32_t>* stopFlag = nullptr;
static_assert(std::atomic<std::int32_t>::is_always_lock_free,
              "the stop flag is set from a signal handler");

void RestoreDefaults() {
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

extern "C" void OnStopSignal(int) {
  if (stopFlag != nullptr) stopFlag->store(1);
  // The next signal ends the program: a user who presses Ctrl-C twice means it.
  RestoreDefaults();
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

void SetBinaryMode(std::FILE*) {}

bool MoveFileOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void InstallStopRequests(std::atomic<std::int32_t>* flag) {
  stopFlag = flag;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  // Restarted, so that a read of the input under way goes on after the signal.
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void RestoreStopRequests() {
  RestoreDefaults();
  stopFlag = nullptr;
}

}  // namespace glimmora::cli
