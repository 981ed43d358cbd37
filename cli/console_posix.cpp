#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "cli/console.h"

namespace glimmora::cli {

namespace {

// Files the program holds besides its examinations: the two batch files, the
// resolver's and the Remote Registry library's configuration, a margin.
constexpr unsigned long long kFilesReserved = 32;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

enum WriteState : int { kIdle, kWriting, kEnding };

std::atomic<std::int32_t>* stopFlag = nullptr;
std::atomic<int> writeState{kIdle};
std::atomic<int> endingSignal{0};
static_assert(std::atomic<std::int32_t>::is_always_lock_free &&
                  std::atomic<int>::is_always_lock_free,
              "the stop flag and the write state are used from a signal handler");

void SetHandler(int number, void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  // Restarted, so that a read of the input under way goes on after the signal.
  action.sa_flags = handler == SIG_DFL || handler == SIG_IGN ? 0 : SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
}

// Ends the program by the signal itself, so its parent sees what ended it.
// Async-signal-safe.
[[noreturn]] void EndBy(int number) {
  SetHandler(number, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, number);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(number);
  _exit(128 + number);
}

// Ends the program now unless a write is under way; that write's end does it.
void EndUnlessWriting(int number) {
  int idle = kIdle;
  if (writeState.compare_exchange_strong(idle, kEnding)) EndBy(number);
}

extern "C" void OnStopSignal(int number) {
  if (stopFlag != nullptr && stopFlag->exchange(1) == 0) return;
  // The second: a user who presses Ctrl-C twice means it.
  endingSignal.store(number);
  EndUnlessWriting(number);
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) == 1;
}

void SetBinaryMode(std::FILE*) {}

std::FILE* DuplicateStandardInput() {
  const int fd = ::dup(0);
  if (fd < 0) return nullptr;
  std::FILE* stream = ::fdopen(fd, "rb");
  if (stream == nullptr) ::close(fd);
  return stream;
}

std::unique_ptr<OutputStream> StandardOutputStream() {
  const int fd = ::dup(1);
  if (fd < 0) return nullptr;
  return std::make_unique<OutputFile>(fd);
}

void InstallStopRequests(std::atomic<std::int32_t>* flag) {
  stopFlag = flag;
  // Progress and messages go to standard error; when no one reads it any
  // more, its writes fail and the batch goes on.
  SetHandler(SIGPIPE, SIG_IGN);
  for (int number : kStopSignals) SetHandler(number, OnStopSignal);
}

void RestoreStopRequests() {
  for (int number : kStopSignals) SetHandler(number, SIG_DFL);
  stopFlag = nullptr;
}

UninterruptedWrite::UninterruptedWrite() {
  int idle = kIdle;
  // The program is ending: this write is not begun.
  while (!writeState.compare_exchange_strong(idle, kWriting)) {
    pause();
    idle = kIdle;
  }
}

UninterruptedWrite::~UninterruptedWrite() {
  writeState.store(kIdle);
  if (const int number = endingSignal.load(); number != 0) EndUnlessWriting(number);
}

int JobsWithinFileLimit(int jobs, int filesPerJob, unsigned long long* limit) {
  *limit = 0;
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return jobs;
  const unsigned long long wanted =
      kFilesReserved +
      static_cast<unsigned long long>(jobs) * static_cast<unsigned long long>(filesPerJob);
  if (files.rlim_cur < wanted && files.rlim_max > files.rlim_cur) {
    rlimit raised = files;
    raised.rlim_cur =
        files.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(files.rlim_max, wanted);
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) files = raised;
  }
  *limit = files.rlim_cur;
  if (files.rlim_cur >= wanted) return jobs;
  // What is open already (standard streams, inherited descriptors) counts too.
  unsigned long long open = 3;
  if (DIR* dir = opendir("/proc/self/fd")) {
    open = 0;
    while (const dirent* entry = readdir(dir)) open += entry->d_name[0] != '.';
    closedir(dir);
  }
  if (files.rlim_cur < open + kFilesReserved + filesPerJob) return 0;
  return static_cast<int>(
      std::min<unsigned long long>(jobs, (files.rlim_cur - open - kFilesReserved) / filesPerJob));
}

}  // namespace glimmora::cli
