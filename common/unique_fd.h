#pragma once
// The owner of a POSIX file descriptor (files, sockets, terminals), closed
// with close(2). POSIX code only.

#include <unistd.h>

#include "common/unique_handle.h"

namespace glimmora {

struct FileDescriptorTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return -1; }
  static void Close(Handle fd) noexcept { ::close(fd); }
};
using UniqueFd = UniqueHandle<FileDescriptorTraits>;

}  // namespace glimmora
