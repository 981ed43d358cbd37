#include "inventory/rpc/logon_guard.h"

namespace glimmora {

bool LogonFailureGuard::Stopped() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

void LogonFailureGuard::Count(bool succeeded) {
  std::lock_guard lock(mutex_);
  if (succeeded) {
    failuresInARow_ = 0;
  } else if (maxFailuresInARow_ > 0 && ++failuresInARow_ >= maxFailuresInARow_) {
    stopped_ = true;
  }
}

}  // namespace glimmora
