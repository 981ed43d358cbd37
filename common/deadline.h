#pragma once
// The time by which the calling thread's current piece of work must be done.
// A batch gives each workstation one; the operations that can wait on the
// network (a name lookup, a connect, a call on a connection) shorten their
// own waits to it, so that none outlives it by more than a moment. Without a
// deadline every operation keeps its own limits.
//
// The deadline travels with the thread rather than through the registry and
// probe interfaces, whose operations stand for fixed system functions.

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

// Whether the calling thread's deadline has come; false when none is set.
bool ThreadDeadlinePassed();

// `limit`, or the time left before the thread's deadline when that is shorter
// (never below zero).
std::chrono::milliseconds TimeLeftWithin(std::chrono::milliseconds limit);

// Sets the calling thread's deadline while it lives; the one before comes back
// afterwards.
class ScopedDeadline {
 public:
  explicit ScopedDeadline(DeadlineClock::time_point deadline);
  ~ScopedDeadline();
  ScopedDeadline(const ScopedDeadline&) = delete;
  ScopedDeadline& operator=(const ScopedDeadline&) = delete;

 private:
  std::optional<DeadlineClock::time_point> previous_;
};

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
  if (!shared->done.wait_until(lock, *deadline, [&] { return shared->result.has_value(); }))
    return std::nullopt;
  return std::move(shared->result);
}

}  // namespace glimmora
