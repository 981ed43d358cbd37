#pragma once
// Files the batch reads and writes through the C library, owned by a handle
// that closes them, and the reasons a failure to open one is given.

#include <cstdio>
#include <string>

#include "common/unique_handle.h"

namespace glimmora {

struct StdioFileTraits {
  using Handle = std::FILE*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle file) noexcept { std::fclose(file); }
};
using UniqueFile = UniqueHandle<StdioFileTraits>;

// The system's text for an errno value from opening `path`; a directory is
// said to be one (Windows refuses to open one as "permission denied").
std::string FileErrorReason(const std::string& path, int error);

// The whole file appended to *bytes; false with *reason (the system's) when
// it cannot be opened or read to its end.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason);

}  // namespace glimmora
