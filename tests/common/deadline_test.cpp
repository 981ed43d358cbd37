#include "common/deadline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace glimmora {
namespace {

using namespace std::chrono_literals;

TEST(Deadline, BelongsToTheThreadThatSetsIt) {
  EXPECT_FALSE(ThreadDeadline().has_value());
  EXPECT_FALSE(ThreadDeadlinePassed());
  EXPECT_EQ(TimeLeftWithin(5000ms), 5000ms);
  {
    ScopedDeadline outer(DeadlineClock::now() + 10s);
    const auto left = TimeLeftWithin(60000ms);
    EXPECT_GT(left, 9000ms);
    EXPECT_LE(left, 10000ms);
    EXPECT_EQ(TimeLeftWithin(20ms), 20ms);
    bool otherThreadHasOne = true;
    std::thread([&] { otherThreadHasOne = ThreadDeadline().has_value(); }).join();
    EXPECT_FALSE(otherThreadHasOne);
    {
      ScopedDeadline inner(DeadlineClock::now() - 1ms);
      EXPECT_TRUE(ThreadDeadlinePassed());
      EXPECT_EQ(TimeLeftWithin(5000ms), 0ms);
    }
    EXPECT_FALSE(ThreadDeadlinePassed());
  }
  EXPECT_FALSE(ThreadDeadline().has_value());
}

TEST(Deadline, ACallWithoutDeadlineRunsOnTheCallingThread) {
  const auto caller = std::this_thread::get_id();
  const std::optional<bool> sameThread =
      CallBeforeThreadDeadline<bool>([caller] { return std::this_thread::get_id() == caller; });
  EXPECT_EQ(sameThread, true);
}

TEST(Deadline, ACallThatEndsInTimeGivesItsResult) {
  ScopedDeadline deadline(DeadlineClock::now() + 10s);
  EXPECT_EQ(CallBeforeThreadDeadline<int>([] { return 42; }), 42);
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
    ScopedDeadline deadline(start + 100ms);
    const std::optional<Tracked> result = CallBeforeThreadDeadline<Tracked>([releases, finished] {
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
// deadline; the stop belongs to the thread's deadline and goes with it.
TEST(Deadline, AStopWithTheDeadlineEndsTheWaitAtOnce) {
  std::atomic<bool> stop{false};
  const DeadlineStop stopRequested = [&stop] { return stop.load(); };
  auto finished = std::make_shared<std::atomic<bool>>(false);
  const auto start = DeadlineClock::now();
  {
    ScopedDeadline deadline(start + 60s, &stopRequested);
    EXPECT_FALSE(ThreadDeadlinePassed());
    std::thread stopper([&stop] {
      std::this_thread::sleep_for(100ms);
      stop.store(true);
    });
    const std::optional<int> result = CallBeforeThreadDeadline<int>([finished] {
      std::this_thread::sleep_for(3s);
      finished->store(true);
      return 1;
    });
    stopper.join();
    EXPECT_FALSE(result.has_value());
    EXPECT_TRUE(ThreadDeadlinePassed());
  }
  // Far less than the call's 3 s, let alone the deadline's minute.
  EXPECT_LT(DeadlineClock::now() - start, 2500ms);
  EXPECT_FALSE(finished->load());
  EXPECT_FALSE(ThreadDeadlinePassed());
  ScopedDeadline later(DeadlineClock::now() + 10s);
  EXPECT_FALSE(ThreadDeadlinePassed());
}

}  // namespace
}  // namespace glimmora
