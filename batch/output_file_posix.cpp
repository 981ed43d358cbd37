// The result file on a POSIX system: a descriptor of its own, written without
// a buffer in between, and held under an exclusive flock() while it is open;
// an earlier result file held under the same lock while it is read and replaced.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "batch/held_file.h"
#include "batch/output_file.h"
#include "batch/service_journal.h"
#include "batch/stdio_file.h"

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

namespace glimmora {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      if (count == 0) errno = ENOSPC;
      return false;
    }
    written += static_cast<std::size_t>(count);
  }
  return true;
}

// Writes `bytes` to a new file beside `path` and renames it over `path`.
// `kept`: the status of the file replaced (its mode, owner and group are
// given to the new one), null when there is none.
bool ReplaceThroughNewFile(const std::string& path, const struct stat* kept, std::string_view bytes,
                           std::string* reason) {
  const std::string newPath = path + ".glimmora-new";
  // No one else reads the content before it has the old file's mode.
  const int fd = ::open(newPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                        kept != nullptr ? 0600 : 0666);
  if (fd < 0) {
    *reason = FileErrorReason(newPath, errno);
    return false;
  }
  bool done = true;
  if (kept != nullptr) {
    // Only root may give a file away; a group of the user's own is kept anyway.
    if (::fchown(fd, kept->st_uid, kept->st_gid) != 0) (void)::fchown(fd, -1, kept->st_gid);
    done = ::fchmod(fd, kept->st_mode & 07777) == 0;
  }
  // On the disk before it takes the old file's place, so a power cut leaves one or the other.
  done = done && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  int error = done ? 0 : errno;
  if (::close(fd) != 0 && done) {
    done = false;
    error = errno;
  }
  if (done) {
    if (std::rename(newPath.c_str(), path.c_str()) == 0) return true;
    *reason = FileErrorReason(path, errno);
  } else {
    *reason = FileErrorReason(newPath, error);
  }
  ::unlink(newPath.c_str());
  return false;
}

// The file a path names, links followed; the path itself when it names none.
std::string FileOf(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target = resolved;
  std::free(resolved);
  return target;
}

}  // namespace

std::unique_ptr<HeldFile> HeldFile::Open(const std::string& path, Hold hold, std::string* reason) {
  const std::string target = FileOf(path);
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::unique_ptr<HeldFile>(new HeldFile(target, kNoHandle));
    *reason = FileErrorReason(path, errno);
    return nullptr;
  }
  std::unique_ptr<HeldFile> file(new HeldFile(target, fd));
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    *reason = S_ISDIR(status.st_mode) ? FileErrorReason(path, EISDIR) : "not a regular file";
    return nullptr;
  }
  // A batch writing it holds the same lock exclusively.
  if (::flock(fd, (hold == Hold::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 &&
      errno == EWOULDBLOCK) {
    *reason = kOutputFileInUse;
    return nullptr;
  }
  return file;
}

HeldFile::~HeldFile() {
  Release();
}

void HeldFile::Release() {
  if (handle_ == kNoHandle) return;
  ::close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

bool HeldFile::Read(std::string* bytes, std::string* reason) {
  bytes->clear();
  if (!Exists()) return true;
  const int fd = static_cast<int>(handle_);
  char buffer[64 * 1024];
  for (off_t offset = 0;;) {
    const ssize_t count = ::pread(fd, buffer, sizeof buffer, offset);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      *reason = FileErrorReason(path_, errno);
      return false;
    }
    if (count == 0) return true;
    bytes->append(buffer, static_cast<std::size_t>(count));
    offset += count;
  }
}

bool HeldFile::Replace(std::string_view bytes, std::string* reason) {
  struct stat status {};
  const bool kept = Exists() && ::fstat(static_cast<int>(handle_), &status) == 0;
  // The lock stays on the file replaced until this one is released: a batch
  // that opened it meanwhile is refused.
  return ReplaceThroughNewFile(path_, kept ? &status : nullptr, bytes, reason);
}

bool ReplaceWholeFile(const std::string& path, std::string_view bytes, std::string* reason) {
  const std::string target = FileOf(path);
  struct stat status {};
  const bool kept = ::stat(target.c_str(), &status) == 0 && S_ISREG(status.st_mode);
  return ReplaceThroughNewFile(target, kept ? &status : nullptr, bytes, reason);
}

}  // namespace glimmora

namespace glimmora {

bool FlushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
}

}  // namespace glimmora
