#include "common/deadline.h"

namespace glimmora {

bool Deadline::Passed() const {
  if (stop_ && stop_()) return true;
  return at_ && DeadlineClock::now() >= *at_;
}

std::chrono::milliseconds Deadline::TimeLeftWithin(std::chrono::milliseconds limit) const {
  if (stop_ && stop_()) return std::chrono::milliseconds(0);
  if (!at_) return limit;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at_ - DeadlineClock::now());
  if (left.count() <= 0) return std::chrono::milliseconds(0);
  return left < limit ? left : limit;
}

Deadline Deadline::Within(std::chrono::milliseconds limit) const {
  const DeadlineClock::time_point end = DeadlineClock::now() + limit;
  return Deadline(at_ && *at_ < end ? *at_ : end, stop_);
}

}  // namespace glimmora
