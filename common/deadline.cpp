#include "common/deadline.h"

namespace glimmora {

namespace {
thread_local std::optional<DeadlineClock::time_point> tDeadline;
}  // namespace

std::optional<DeadlineClock::time_point> ThreadDeadline() {
  return tDeadline;
}

bool ThreadDeadlinePassed() {
  return tDeadline && DeadlineClock::now() >= *tDeadline;
}

std::chrono::milliseconds TimeLeftWithin(std::chrono::milliseconds limit) {
  if (!tDeadline) return limit;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*tDeadline - DeadlineClock::now());
  if (left.count() <= 0) return std::chrono::milliseconds(0);
  return left < limit ? left : limit;
}

ScopedDeadline::ScopedDeadline(DeadlineClock::time_point deadline) : previous_(tDeadline) {
  tDeadline = deadline;
}

ScopedDeadline::~ScopedDeadline() {
  tDeadline = previous_;
}

}  // namespace glimmora
