#include "batch/stdio_file.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace glimmora {

namespace {

std::string SystemErrorText(int error) {
  return std::generic_category().message(error);
}

}  // namespace

std::string FileErrorReason(const std::string& path, int error) {
  std::error_code ignored;
  if (error != EISDIR && std::filesystem::is_directory(path, ignored)) error = EISDIR;
  return SystemErrorText(error);
}

}  // namespace glimmora
