// The result file on Windows: a handle of its own, written without a buffer in
// between, and opened without write sharing, so that no other program writes
// it while it is open.
#include <windows.h>

#include <cerrno>

#include "batch/batch_files.h"

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
