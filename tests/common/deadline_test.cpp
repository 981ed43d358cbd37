#include "common/deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace glimmora {
namespace {

using namespace std::chrono_literals;

TEST(Deadline, TimeLeftAndWithin) {
  const Deadline none;
  EXPECT_FALSE(none.Passed());
  EXPECT_EQ(none.TimeLeftWithin(5000ms), 5000ms);
  const Deadline soon(DeadlineClock::now() + 10s);
  const auto left = soon.TimeLeftWithin(60000ms);
  EXPECT_GT(left, 9000ms);
  EXPECT_LE(left, 10000ms);
  EXPECT_EQ(soon.TimeLeftWithin(20ms), 20ms);
  // Within() takes the earlier time and keeps the stop.
  EXPECT_LE(soon.Within(100ms).TimeLeftWithin(60000ms), 100ms);
  EXPECT_GT(soon.Within(60s).TimeLeftWithin(60000ms), 9000ms);
  EXPECT_LE(none.Within(100ms).TimeLeftWithin(60000ms), 100ms);
  const Deadline passed(DeadlineClock::now() - 1ms);
  EXPECT_TRUE(passed.Passed());
  EXPECT_EQ(passed.TimeLeftWithin(5000ms), 0ms);

  bool stop = false;
  const Deadline stopOnly = Deadline::StopOnly([&stop] { return stop; });
  EXPECT_FALSE(stopOnly.Passed());
  EXPECT_EQ(stopOnly.TimeLeftWithin(5000ms), 5000ms);
  const Deadline narrowed = stopOnly.Within(10s);
  stop = true;
  EXPECT_TRUE(stopOnly.Passed());
  EXPECT_TRUE(narrowed.Passed());
  EXPECT_EQ(narrowed.TimeLeftWithin(5000ms), 0ms);
}

TEST(Deadline, ACallWithoutDeadlineRunsOnTheCallingThread) {
  const auto caller = std::this_thread::get_id();
  const std::optional<bool> sameThread = CallBeforeDeadline<bool>(
      Deadline(), [caller] { return std::this_thread::get_id() == caller; });
  EXPECT_EQ(sameThread, true);
}

TEST(Deadline, ACallThatEndsInTimeGivesItsResult) {
  EXPECT_EQ(CallBeforeDeadline<int>(Deadline(DeadlineClock::now() + 10s), [] { return 42; }), 42);
}

// A result that says when it is released.
struct Tracked {
  explicit Tracked(std::shared_ptr<std::atomic<int>> releases) : releases(std::move(releases)) {}
  Tracked(Tracked&&) = default;
  ~Tracked() {
    if (releases) releases->fetch_add(1);
  }
  std::shared_ptr<std::atomic<int>> releases;
};

TEST(Deadline, ACallStillRunningAtTheDeadlineIsGivenUpAndItsResultReleasedLater) {
  auto releases = std::make_shared<std::atomic<int>>(0);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  const auto start = DeadlineClock::now();
  {
    const std::optional<Tracked> result =
        CallBeforeDeadline<Tracked>(Deadline(start + 100ms), [releases, finished] {
          std::this_thread::sleep_for(600ms);
          finished->store(true);
          return Tracked(releases);
        });
    EXPECT_FALSE(result.has_value());
  }
  const auto waited = DeadlineClock::now() - start;
  EXPECT_GE(waited, 100ms);
  EXPECT_LT(waited, 500ms);
  EXPECT_FALSE(finished->load());
  // The helper ends on its own; what it made is released with it.
  for (int i = 0; i < 400 && releases->load() == 0; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(finished->load());
  EXPECT_GE(releases->load(), 1);
}

// A stop request that comes with the deadline makes it count as passed: a call
// still running is given up as soon as the stop is made, long before the
// deadline.
TEST(Deadline, AStopWithTheDeadlineEndsTheWaitAtOnce) {
  std::atomic<bool> stop{false};
  const DeadlineStop stopRequested = [&stop] { return stop.load(); };
  auto finished = std::make_shared<std::atomic<bool>>(false);
  const auto start = DeadlineClock::now();
  {
    const Deadline deadline(start + 60s, stopRequested);
    EXPECT_FALSE(deadline.Passed());
    std::thread stopper([&stop] {
      std::this_thread::sleep_for(100ms);
      stop.store(true);
    });
    const std::optional<int> result = CallBeforeDeadline<int>(deadline, [finished] {
      std::this_thread::sleep_for(3s);
      finished->store(true);
      return 1;
    });
    stopper.join();
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(deadline.Passed());
  }
  // Far less than the call's 3 s, let alone the deadline's minute.
  EXPECT_LT(DeadlineClock::now() - start, 2500ms);
  EXPECT_FALSE(finished->load());
}

}  // namespace
}  // namespace glimmora
