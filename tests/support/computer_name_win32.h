#pragma once
// This computer's name, for the Windows tests that examine it through
// Wine's own registry, echo and service manager.

#include <windows.h>

#include <string>

namespace glimmora::testing {

inline std::string ComputerName() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof name;
  if (!GetComputerNameA(name, &length)) return {};
  return std::string(name, length);
}

}  // namespace glimmora::testing
