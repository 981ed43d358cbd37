#pragma once
// Finding and reading the export file of one workstation in a directory.

#include <cstdint>
#include <string>
#include <vector>

namespace glimmora {

struct ExportFile {
  std::string path;  // as the user would type it, for messages
  std::vector<std::uint8_t> bytes;
};

// Files larger than this are refused rather than read into memory.
inline constexpr std::uint64_t kMaxExportFileSize = std::uint64_t{1} << 30;

// Reads "<workstation>.reg" from the directory, the name matched without regard
// to letter case. The name has passed IsExportFileName. 0, or a Windows error
// code with the reason for the user (naming the file or directory):
// kErrorBadNetPath when there is no such file or directory, kErrorInvalidName
// when the name is not valid text for a file name here, kErrorAccessDenied,
// kErrorNotEnoughMemory for a file above kMaxExportFileSize, kErrorCantRead
// when reading fails.
long ReadExportFile(const std::string& directory, const std::string& workstation, ExportFile* file,
                    std::string* reason);

}  // namespace glimmora
