// Export files on Windows: the file system matches names without regard to
// letter case itself; names are in the ANSI code page.
#include <windows.h>

#include <algorithm>

#include "common/unique_handle.h"
#include "inventory/offline/export_file.h"
#include "inventory/registry/registry_access.h"
#include "inventory/system_messages.h"

namespace glimmora {

namespace {

struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) noexcept { CloseHandle(handle); }
};
using UniqueFile = UniqueHandle<FileHandleTraits>;

bool WideFromAnsi(const std::string& text, DWORD flags, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  const int units =
      MultiByteToWideChar(CP_ACP, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return false;
  wide->resize(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_ACP, flags, text.data(), static_cast<int>(text.size()), wide->data(),
                      units);
  return true;
}

std::string Because(const std::string& path, long code) {
  const std::string text = LocalSystemMessageText(code);
  return text.empty() ? path : path + ": " + text;
}

}  // namespace

long ReadExportFile(const std::string& directory, const std::string& workstation, ExportFile* file,
                    std::string* reason) {
  std::wstring wideName;
  std::wstring wideDirectory;
  if (!WideFromAnsi(workstation, MB_ERR_INVALID_CHARS, &wideName)) {
    *reason = "the name is not valid text in this code page, so it cannot name a file";
    return kErrorInvalidName;
  }
  WideFromAnsi(directory, 0, &wideDirectory);
  std::wstring widePath = wideDirectory;
  if (!widePath.empty() && widePath.back() != L'\\' && widePath.back() != L'/') widePath += L'\\';
  widePath += wideName + L".reg";
  file->path = directory;
  if (!file->path.empty() && file->path.back() != '\\' && file->path.back() != '/')
    file->path += '\\';
  file->path += workstation + ".reg";

  UniqueFile handle(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      *reason = "no file " + file->path;
      return kErrorBadNetPath;
    }
    *reason = Because(file->path, static_cast<long>(error));
    return static_cast<long>(error);
  }
  // A device or pipe of that name is not an export.
  if (GetFileType(handle.get()) != FILE_TYPE_DISK) {
    *reason = file->path + ": not a file";
    return kErrorAccessDenied;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle.get(), &size)) {
    *reason = Because(file->path, static_cast<long>(GetLastError()));
    return kErrorCantRead;
  }
  if (static_cast<std::uint64_t>(size.QuadPart) > kMaxExportFileSize) {
    *reason = file->path + ": larger than 1 GiB";
    return kErrorNotEnoughMemory;
  }
  file->bytes.resize(static_cast<std::size_t>(size.QuadPart));
  std::size_t done = 0;
  while (done < file->bytes.size()) {
    DWORD count = 0;
    const DWORD want =
        static_cast<DWORD>(std::min<std::size_t>(file->bytes.size() - done, std::size_t{1} << 24));
    if (!ReadFile(handle.get(), file->bytes.data() + done, want, &count, nullptr)) {
      *reason = Because(file->path, static_cast<long>(GetLastError()));
      return kErrorCantRead;
    }
    if (count == 0) break;  // the file shrank while being read
    done += count;
  }
  file->bytes.resize(done);
  return kErrorSuccess;
}

}  // namespace glimmora
