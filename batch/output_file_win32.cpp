// The result file on Windows: a handle of its own, written without a buffer in
// between, and opened without write sharing, so that no other program writes
// it while it is open.
#include <windows.h>

#include <io.h>

#include <cerrno>

#include "batch/held_file.h"
#include "batch/output_file.h"
#include "batch/service_journal.h"
#include "batch/stdio_file.h"

namespace glimmora {

namespace {
HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}
const std::intptr_t kNoHandle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);

// The reason of a failed file call in the words the other platforms use.
std::string LastErrorReason(const std::string& path) {
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileErrorReason(path, ENOENT);
    case ERROR_ACCESS_DENIED:
      return FileErrorReason(path, EACCES);
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileErrorReason(path, ENOSPC);
    case ERROR_INVALID_NAME:
      return FileErrorReason(path, EINVAL);
    default:
      return FileErrorReason(path, EIO);
  }
}
}  // namespace

OutputFile::~OutputFile() {
  Close();
}

std::size_t OutputFile::Write(std::string_view bytes) {
  if (handle_ == kNoHandle) return 0;
  std::size_t written = 0;
  while (written < bytes.size()) {
    const std::size_t chunk = bytes.size() - written;
    DWORD count = 0;
    const DWORD asked = chunk > 0x40000000u ? 0x40000000u : static_cast<DWORD>(chunk);
    if (!WriteFile(AsHandle(handle_), bytes.data() + written, asked, &count, nullptr) ||
        count == 0) {
      if (failureReason_.empty()) failureReason_ = LastErrorReason({});
      break;
    }
    written += count;
  }
  return written;
}

bool OutputFile::Close() {
  if (handle_ == kNoHandle) return true;
  const HANDLE handle = AsHandle(handle_);
  handle_ = kNoHandle;
  if (CloseHandle(handle) != 0) return true;
  if (failureReason_.empty()) failureReason_ = LastErrorReason({});
  return false;
}

std::unique_ptr<OutputStream> OpenOutputFile(const std::string& path, std::string* reason) {
  return OpenOutputFileKeeping(path, 0, reason);
}

std::unique_ptr<OutputStream> OpenOutputFileKeeping(const std::string& path,
                                                    std::uint64_t keptBytes, std::string* reason) {
  // Opened as it is and truncated only once the open has succeeded: a file
  // another batch holds fails with a sharing violation and keeps its content.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (reason != nullptr)
      *reason = GetLastError() == ERROR_SHARING_VIOLATION ? std::string(kOutputFileInUse)
                                                          : LastErrorReason(path);
    return nullptr;
  }
  auto file = std::make_unique<OutputFile>(reinterpret_cast<std::intptr_t>(handle));
  if (GetFileType(handle) != FILE_TYPE_DISK) return file;
  LARGE_INTEGER kept;
  kept.QuadPart = static_cast<LONGLONG>(keptBytes);
  if (!SetFilePointerEx(handle, kept, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) {
    if (reason != nullptr) *reason = LastErrorReason(path);
    return nullptr;
  }
  return file;
}

}  // namespace glimmora

namespace glimmora {

namespace {

bool WriteAllTo(HANDLE handle, std::string_view bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const std::size_t chunk = bytes.size() - written;
    DWORD count = 0;
    const DWORD asked = chunk > 0x40000000u ? 0x40000000u : static_cast<DWORD>(chunk);
    if (!WriteFile(handle, bytes.data() + written, asked, &count, nullptr) || count == 0)
      return false;
    written += count;
  }
  return true;
}

// Writes `bytes` to a new file beside `path`, then puts it in the place of
// `path`: ReplaceFile keeps the old file's attributes, owner and access list.
// `held`: the caller's handle of `path`, closed when the system will not
// replace a file held open.
bool ReplaceThroughNewFile(const std::string& path, std::string_view bytes, HANDLE* held,
                           std::string* reason) {
  const std::string newPath = path + ".glimmora-new";
  const HANDLE file = CreateFileA(newPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *reason = LastErrorReason(newPath);
    return false;
  }
  bool written = WriteAllTo(file, bytes) && FlushFileBuffers(file) != 0;
  std::string failure = written ? std::string() : LastErrorReason(newPath);
  if (CloseHandle(file) == 0 && written) {
    written = false;
    failure = LastErrorReason(newPath);
  }
  if (!written) {
    *reason = failure;
    DeleteFileA(newPath.c_str());
    return false;
  }
  const DWORD attributes = GetFileAttributesA(path.c_str());
  bool replaced = false;
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    replaced = MoveFileExA(newPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  } else {
    replaced = ReplaceFileA(path.c_str(), newPath.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                            nullptr, nullptr) != 0;
    if (!replaced && held != nullptr && *held != INVALID_HANDLE_VALUE &&
        GetLastError() == ERROR_SHARING_VIOLATION) {
      CloseHandle(*held);
      *held = INVALID_HANDLE_VALUE;
      replaced = ReplaceFileA(path.c_str(), newPath.c_str(), nullptr,
                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0;
    }
  }
  if (replaced) return true;
  *reason = GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_LOCK_VIOLATION
                ? std::string("in use by another program")
                : LastErrorReason(path);
  DeleteFileA(newPath.c_str());
  return false;
}

}  // namespace

std::unique_ptr<HeldFile> HeldFile::Open(const std::string& path, Hold hold, std::string* reason) {
  // Without write sharing no batch opens it to write; a batch writing it
  // already shares no writing with this handle, which is then refused.
  const DWORD access = hold == Hold::kExclusive ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
  const DWORD sharing =
      hold == Hold::kExclusive ? FILE_SHARE_READ | FILE_SHARE_DELETE : FILE_SHARE_READ;
  const HANDLE handle = CreateFileA(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
      return std::unique_ptr<HeldFile>(new HeldFile(path, kNoHandle));
    *reason =
        error == ERROR_SHARING_VIOLATION ? std::string(kOutputFileInUse) : LastErrorReason(path);
    return nullptr;
  }
  std::unique_ptr<HeldFile> file(new HeldFile(path, reinterpret_cast<std::intptr_t>(handle)));
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    *reason = "not a regular file";
    return nullptr;
  }
  return file;
}

HeldFile::~HeldFile() {
  Release();
}

void HeldFile::Release() {
  if (handle_ == kNoHandle) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
}

bool HeldFile::Read(std::string* bytes, std::string* reason) {
  bytes->clear();
  if (!Exists()) return true;
  const HANDLE handle = AsHandle(handle_);
  LARGE_INTEGER start{};
  if (!SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
    *reason = LastErrorReason(path_);
    return false;
  }
  char buffer[64 * 1024];
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &count, nullptr)) {
      *reason = LastErrorReason(path_);
      return false;
    }
    if (count == 0) return true;
    bytes->append(buffer, count);
  }
}

bool HeldFile::Replace(std::string_view bytes, std::string* reason) {
  HANDLE held = AsHandle(handle_);
  const bool replaced = ReplaceThroughNewFile(path_, bytes, &held, reason);
  handle_ = reinterpret_cast<std::intptr_t>(held);
  return replaced;
}

bool ReplaceWholeFile(const std::string& path, std::string_view bytes, std::string* reason) {
  return ReplaceThroughNewFile(path, bytes, nullptr, reason);
}

}  // namespace glimmora

namespace glimmora {

bool FlushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

}  // namespace glimmora
