#pragma once
// Puts the process in a time zone for the life of an object and restores the
// previous setting afterwards. DecodeEdid reads the zone on every call.

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace glimmora::testing {

class ScopedTimeZone {
 public:
  // nullptr removes TZ: the system's own zone applies.
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    Set(zone);
  }
  ~ScopedTimeZone() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  static void Set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone ? zone : "");  // an empty value removes the variable
    _tzset();
#else
    if (zone)
      setenv("TZ", zone, 1);
    else
      unsetenv("TZ");
    tzset();
#endif
  }

  std::optional<std::string> old_;
};

// Zone names differ: the Windows C runtime takes only the "EST5EDT" form (and
// applies US daylight-saving dates to it), POSIX systems take IANA names.
#ifdef _WIN32
inline constexpr const char* kZoneUtc = "UTC0";
inline constexpr const char* kZoneNewYork = "EST5EDT";
inline constexpr const char* kZoneTokyo = "JST-9";
#else
inline constexpr const char* kZoneUtc = "UTC0";
inline constexpr const char* kZoneNewYork = "America/New_York";
inline constexpr const char* kZoneTokyo = "Asia/Tokyo";
#endif

}  // namespace glimmora::testing
