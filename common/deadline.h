#pragma once
// The time by which the calling thread's current piece of work must be done.
// A batch gives each workstation one; the operations that can wait on the
// network (a name lookup, a connect, a call on a connection) shorten their
// own waits to it, so that none outlives it by more than a moment. Without a
// deadline every operation keeps its own limits.
//
// The deadline travels with the thread rather than through the registry and
// probe interfaces, whose operations stand for fixed system functions. A
// deadline may come with a stop request: once that is made, the deadline
// counts as passed, so that a wait under it ends as soon as the stop comes.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace glimmora {

using DeadlineClock = std::chrono::steady_clock;

// The calling thread's deadline, if one is set.
std::optional<DeadlineClock::time_point> ThreadDeadline();

// Whether the calling thread's deadline has come, or its stop request has been
// made; false when no deadline is set.
bool ThreadDeadlinePassed();

// `limit`, or the time left before the thread's deadline when that is shorter
// (never below zero).
std::chrono::milliseconds TimeLeftWithin(std::chrono::milliseconds limit);

// A stop request that ends the waits under a deadline: true once made. It is
// called from the thread whose deadline it belongs to, and must outlive it.
using DeadlineStop = std::function<bool()>;

// Sets the calling thread's deadline, and the stop request that cuts it short
// (none when `stop` is null), while it lives; the ones before come back
// afterwards.
class ScopedDeadline {
 public:
  explicit ScopedDeadline(DeadlineClock::time_point deadline, const DeadlineStop* stop = nullptr);
  ~ScopedDeadline();
  ScopedDeadline(const ScopedDeadline&) = delete;
  ScopedDeadline& operator=(const ScopedDeadline&) = delete;

 private:
  std::optional<DeadlineClock::time_point> previous_;
  const DeadlineStop* previousStop_;
};

// How often a wait under a deadline looks at the stop request.
inline constexpr std::chrono::milliseconds kDeadlineStopPoll{50};

// Runs `work` and gives its result; under a deadline on a helper thread that
// is waited for only until the deadline, after which nullopt comes back and
// the helper finishes on its own, releasing its result (so T must own what it
// holds). For calls that have no time-out of their own, such as a name lookup.
// `work` must not refer to anything the caller may release meanwhile.
template <typename T>
std::optional<T> CallBeforeThreadDeadline(std::function<T()> work) {
  const std::optional<DeadlineClock::time_point> deadline = ThreadDeadline();
  if (!deadline) return work();
  struct Shared {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> result;
  };
  auto shared = std::make_shared<Shared>();
  try {
    std::thread([shared, work]() {
      T value = work();
      std::lock_guard<std::mutex> lock(shared->mutex);
      shared->result.emplace(std::move(value));
      shared->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the call is made here, as it would be without a deadline.
    return work();
  }
  std::unique_lock<std::mutex> lock(shared->mutex);
  // In slices, so that a stop request ends the wait as well as the deadline.
  while (!shared->result.has_value()) {
    if (ThreadDeadlinePassed()) return std::nullopt;
    const auto slice = DeadlineClock::now() + kDeadlineStopPoll;
    shared->done.wait_until(lock, slice < *deadline ? slice : *deadline,
                            [&] { return shared->result.has_value(); });
  }
  return std::move(shared->result);
}

}  // namespace glimmora
