// Export files on a POSIX file system: file names are UTF-8 and letter case
// matters to the file system, so the directory is searched for the name.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "common/ansi_text.h"
#include "common/unique_fd.h"
#include "common/unique_handle.h"
#include "inventory/offline/export_file.h"
#include "inventory/registry/registry_access.h"

namespace glimmora {

namespace {

struct DirectoryTraits {
  using Handle = DIR*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle dir) noexcept { ::closedir(dir); }
};
using UniqueDir = UniqueHandle<DirectoryTraits>;

bool IsValidUtf8(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = CharacterLength(text.substr(pos));
    if (length == 1 && static_cast<unsigned char>(text[pos]) >= 0x80) return false;
    pos += length;
  }
  return true;
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  return directory.back() == '/' ? directory + name : directory + "/" + name;
}

long CodeForErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kErrorBadNetPath;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case ENAMETOOLONG:
      return kErrorInvalidName;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    default:
      return kErrorCantRead;
  }
}

}  // namespace

long ReadExportFile(const std::string& directory, const std::string& workstation, ExportFile* file,
                    std::string* reason) {
  if (!IsValidUtf8(workstation)) {
    *reason = "the name is not valid UTF-8, so it cannot name a file";
    return kErrorInvalidName;
  }
  const std::string wanted = workstation + ".reg";
  const std::string shownDirectory = directory.empty() ? "." : directory;

  // An exact match wins. It is looked for first and directly: a batch over
  // thousands of workstations would otherwise read the whole directory for
  // each one.
  std::string found;
  struct stat exact {};
  if (::stat(JoinPath(shownDirectory, wanted).c_str(), &exact) == 0) found = wanted;

  UniqueDir dir(found.empty() ? ::opendir(shownDirectory.c_str()) : nullptr);
  if (found.empty() && !dir) {
    const int error = errno;
    *reason = shownDirectory + ": " + std::strerror(error);
    return CodeForErrno(error);
  }
  // Otherwise the first match in byte order, so that the choice does not
  // depend on the order the directory lists its files in.
  while (dir) {
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (!EqualNoCase(name, wanted)) continue;
    if (name == wanted) {
      found = name;
      break;
    }
    if (found.empty() || name < found) found = name;
  }
  if (found.empty()) {
    *reason = "no file " + JoinPath(directory, wanted);
    return kErrorBadNetPath;
  }
  file->path = JoinPath(directory, found);

  // Not blocking: a FIFO of that name must not hang the check.
  UniqueFd fd(::open(file->path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int error = errno;
    *reason = file->path + ": " + std::strerror(error);
    return CodeForErrno(error);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    *reason = file->path + ": not a regular file";
    return kErrorAccessDenied;
  }
  if (static_cast<std::uint64_t>(status.st_size) > kMaxExportFileSize) {
    *reason = file->path + ": larger than 1 GiB";
    return kErrorNotEnoughMemory;
  }
  file->bytes.clear();
  file->bytes.reserve(static_cast<std::size_t>(status.st_size));
  std::uint8_t buffer[65536];
  while (true) {
    const ssize_t count = ::read(fd.get(), buffer, sizeof buffer);
    if (count == 0) break;
    if (count < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      *reason = file->path + ": " + std::strerror(error);
      return kErrorCantRead;
    }
    if (file->bytes.size() + static_cast<std::size_t>(count) > kMaxExportFileSize) {
      *reason = file->path + ": larger than 1 GiB";
      return kErrorNotEnoughMemory;
    }
    file->bytes.insert(file->bytes.end(), buffer, buffer + count);
  }
  return kErrorSuccess;
}

}  // namespace glimmora
