#pragma once
// Sets an environment variable for the life of a test and puts back what was there.

#include <cstdlib>
#include <optional>
#include <string>

namespace glimmora::testing {

class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    Set(value.c_str());
  }
  // Removes the variable for the life of the object.
  explicit ScopedEnv(std::string name) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    Set(nullptr);
  }
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const char* value) {
#ifdef _WIN32
    _putenv_s(name_.c_str(), value ? value : "");
#else
    if (value)
      setenv(name_.c_str(), value, 1);
    else
      unsetenv(name_.c_str());
#endif
  }

  std::string name_;
  std::optional<std::string> old_;
};

// English texts for the table of system messages, whatever the machine says.
class EnglishMessages {
  ScopedEnv all_{"LC_ALL", "C"};
};

}  // namespace glimmora::testing
