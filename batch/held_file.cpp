#include "batch/held_file.h"

#include <filesystem>
#include <system_error>

namespace glimmora {

bool SameFile(const std::string& first, const std::string& second) {
  std::error_code error;
  if (std::filesystem::equivalent(first, second, error)) return true;
  const auto resolved = [](const std::string& path) {
    std::error_code ignored;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ignored);
    return ignored ? std::filesystem::path(path).lexically_normal() : canonical;
  };
  return resolved(first) == resolved(second);
}

}  // namespace glimmora
