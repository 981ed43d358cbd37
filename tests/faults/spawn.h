#pragma once
// Linux: the glimmora program started with its output in files, signalled
// while it runs, and its end with the resources it used.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace glimmora::testing {

struct Ended {
  int status = -1;  // the exit status; 128 + the signal when a signal ended it
  bool signaled = false;
  long maxRssKb = 0;
  std::chrono::steady_clock::duration wallTime{};
};

class Spawned {
 public:
  // Standard output and standard error go to files named after `scratch`.
  Spawned(const std::string& program, const std::vector<std::string>& args,
          const std::string& scratch)
      : outPath_(scratch + ".out"), errPath_(scratch + ".err") {
    std::vector<std::string> copies = args;
    std::string name = program;
    std::vector<char*> argv = {name.data()};
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    start_ = std::chrono::steady_clock::now();
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Spawned() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      Wait();
    }
  }
  Spawned(const Spawned&) = delete;
  Spawned& operator=(const Spawned&) = delete;

  pid_t pid() const { return pid_; }
  void Signal(int number) {
    if (pid_ > 0) kill(pid_, number);
  }

  Ended Wait() {
    Ended ended;
    int status = 0;
    rusage usage{};
    if (pid_ <= 0 || wait4(pid_, &status, 0, &usage) != pid_) return ended;
    pid_ = -1;
    ended.wallTime = std::chrono::steady_clock::now() - start_;
    ended.signaled = WIFSIGNALED(status);
    ended.status = ended.signaled ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    ended.maxRssKb = usage.ru_maxrss;
    return ended;
  }

  const std::string& outPath() const { return outPath_; }
  const std::string& errPath() const { return errPath_; }

 private:
  std::string outPath_;
  std::string errPath_;
  pid_t pid_ = -1;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace glimmora::testing
