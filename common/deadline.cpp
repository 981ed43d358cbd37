#include "common/deadline.h"

namespace glimmora {

namespace {
thread_local std::optional<DeadlineClock::time_point> tDeadline;
thread_local const DeadlineStop* tStop = nullptr;
}  // namespace

std::optional<DeadlineClock::time_point> ThreadDeadline() {
  return tDeadline;
}

bool ThreadDeadlinePassed() {
  if (!tDeadline) return false;
  if (tStop != nullptr && *tStop && (*tStop)()) return true;
  return DeadlineClock::now() >= *tDeadline;
}

std::chrono::milliseconds TimeLeftWithin(std::chrono::milliseconds limit) {
  if (!tDeadline) return limit;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*tDeadline - DeadlineClock::now());
  if (left.count() <= 0) return std::chrono::milliseconds(0);
  return left < limit ? left : limit;
}

ScopedDeadline::ScopedDeadline(DeadlineClock::time_point deadline, const DeadlineStop* stop)
    : previous_(tDeadline), previousStop_(tStop) {
  tDeadline = deadline;
  tStop = stop;
}

ScopedDeadline::~ScopedDeadline() {
  tDeadline = previous_;
  tStop = previousStop_;
}

}  // namespace glimmora
