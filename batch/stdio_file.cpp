#include "batch/stdio_file.h"

#include <cerrno>
#include <filesystem>
#include <string>
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

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *reason = FileErrorReason(path, errno);
    return false;
  }
  char buffer[64 * 1024];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
    bytes->append(buffer, count);
  if (std::ferror(file.get()) != 0) {
    *reason = FileErrorReason(path, errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

}  // namespace glimmora
