#pragma once
// The time by which a piece of work must be done. A batch gives each
// workstation one; the operations that can wait on the network (a name
// lookup, a connect, a call on a connection) are handed it and shorten their
// own waits to it, so that none outlives it by more than a moment. Without a
// deadline every operation keeps its own limits.
//
// A deadline may come with a stop request: once that is made, the deadline
// counts as passed, so that a wait under it ends as soon as the stop comes.
// A Deadline is a small value, copied into whatever waits under it.

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

// A stop request that ends the waits under a deadline: true once made. It may
// be called from any thread that waits under the deadline.
using DeadlineStop = std::function<bool()>;

class Deadline {
 public:
  // No deadline: every wait keeps its own limit.
  Deadline() = default;
  explicit Deadline(DeadlineClock::time_point at, DeadlineStop stop = {})
      : at_(at), stop_(std::move(stop)) {}
  // No time of its own, only the stop request: the waits keep their own
  // limits, and the work ends between its steps when the stop comes.
  static Deadline StopOnly(DeadlineStop stop) {
    Deadline deadline;
    deadline.stop_ = std::move(stop);
    return deadline;
  }

  std::optional<DeadlineClock::time_point> At() const { return at_; }

  // Whether the time has come, or the stop request has been made.
  bool Passed() const;

  // `limit`, or the time left when that is shorter (never below zero).
  std::chrono::milliseconds TimeLeftWithin(std::chrono::milliseconds limit) const;

  // The same stop request with the earlier of the two times.
  Deadline Within(std::chrono::milliseconds limit) const;

 private:
  std::optional<DeadlineClock::time_point> at_;
  DeadlineStop stop_;
};

// How often a wait under a deadline looks at the stop request.
inline constexpr std::chrono::milliseconds kDeadlineStopPoll{50};

// Runs `work` and gives its result; under a deadline on a helper thread that
// is waited for only until the deadline, after which nullopt comes back and
// the helper finishes on its own, releasing its result (so T must own what it
// holds). For calls that have no time-out of their own, such as a name lookup.
// `work` must not refer to anything the caller may release meanwhile.
template <typename T>
std::optional<T> CallBeforeDeadline(const Deadline& deadline, std::function<T()> work) {
  const std::optional<DeadlineClock::time_point> at = deadline.At();
  if (!at) return work();
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
    if (deadline.Passed()) return std::nullopt;
    const auto slice = DeadlineClock::now() + kDeadlineStopPoll;
    shared->done.wait_until(lock, slice < *at ? slice : *at,
                            [&] { return shared->result.has_value(); });
  }
  return std::move(shared->result);
}

}  // namespace glimmora
