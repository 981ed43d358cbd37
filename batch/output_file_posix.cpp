// The result file on a POSIX system: a descriptor of its own, written without
// a buffer in between, and held under an exclusive flock() while it is open.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "batch/batch_files.h"

namespace glimmora {

OutputFile::~OutputFile() {
  Close();
}

std::size_t OutputFile::Write(std::string_view bytes) {
  if (handle_ < 0) return 0;
  const int fd = static_cast<int>(handle_);
  std::size_t written = 0;
  // One call, unless the system takes part of the bytes (a signal, a full disk):
  // the rest is handed over again until it fails.
  while (written < bytes.size()) {
    const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (failureReason_.empty()) failureReason_ = FileErrorReason({}, count < 0 ? errno : ENOSPC);
      break;
    }
    written += static_cast<std::size_t>(count);
  }
  return written;
}

bool OutputFile::Close() {
  if (handle_ < 0) return true;
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  // Closing releases the lock.
  if (::close(fd) == 0) return true;
  if (failureReason_.empty()) failureReason_ = FileErrorReason({}, errno);
  return false;
}

std::unique_ptr<OutputStream> OpenOutputFile(const std::string& path, std::string* reason) {
  return OpenOutputFileKeeping(path, 0, reason);
}

std::unique_ptr<OutputStream> OpenOutputFileKeeping(const std::string& path,
                                                    std::uint64_t keptBytes, std::string* reason) {
  // Not truncated on opening: a file another batch is writing must stay as it is.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (reason != nullptr) *reason = FileErrorReason(path, errno);
    return nullptr;
  }
  auto file = std::make_unique<OutputFile>(fd);
  // A device or a pipe (/dev/null, /dev/stdout) is neither locked nor truncated.
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return file;
  // A lock the file system cannot give (some network file systems) does not
  // stop the batch; a lock held elsewhere does.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    if (reason != nullptr) *reason = kOutputFileInUse;
    return nullptr;
  }
  if (::ftruncate(fd, static_cast<off_t>(keptBytes)) != 0 || ::lseek(fd, 0, SEEK_END) < 0) {
    if (reason != nullptr) *reason = FileErrorReason(path, errno);
    return nullptr;
  }
  return file;
}

}  // namespace glimmora
