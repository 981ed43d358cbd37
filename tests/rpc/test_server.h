#pragma once
// The Samba server that the ctest fixtures of these tests start on loopback:
// its address, and the directory its script wrote (configuration, -A files).

#include <cstdlib>
#include <string>

namespace glimmora::testing {

inline constexpr const char* kServer = "127.0.0.1";

// Empty when the test was not started through ctest.
inline std::string ServerDir() {
  const char* dir = std::getenv("GLIMMORA_SAMBA_DIR");
  return dir != nullptr ? dir : "";
}

}  // namespace glimmora::testing
