#pragma once
// Stops logging on after a number of logon failures in a row, so that a
// domain's lockout policy does not lock the account a whole batch uses.
// Shared by the connects of every thread.

#include <mutex>

namespace glimmora {

class LogonFailureGuard {
 public:
  // 0: never stop.
  explicit LogonFailureGuard(int maxFailuresInARow) : maxFailuresInARow_(maxFailuresInARow) {}

  // Whether no more logons are to be tried. Once stopped, it stays stopped:
  // a logon that is not tried cannot succeed to clear it.
  bool Stopped() const;
  // A logon's outcome: a success ends the run of failures.
  void Count(bool succeeded);

 private:
  const int maxFailuresInARow_;
  mutable std::mutex mutex_;
  int failuresInARow_ = 0;  // guarded by mutex_
  bool stopped_ = false;    // guarded by mutex_
};

}  // namespace glimmora
