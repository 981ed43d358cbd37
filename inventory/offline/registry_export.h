#pragma once
// Registry export files, as `reg export` and the registry editor write them:
// "Windows Registry Editor Version 5.00" in UTF-16LE, or "REGEDIT4" in 8-bit text.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "inventory/registry/registry_tree.h"

namespace glimmora {

struct RegistryExportError {
  std::size_t line = 0;  // 1 for the first line
  std::string reason;
};

// Adds the keys and values that the file holds below HKEY_LOCAL_MACHINE to
// `root`, with names and string data turned into the program's 8-bit text as
// RegQueryValueExA gives them. Keys of other roots are passed over; key and
// value deletions ("[-key]", "name"=-) are applied. False, with the first bad
// line and why, when the text is not a registry export; `root` is then
// incomplete and should be thrown away. Any bytes are safe to pass.
bool ParseRegistryExport(std::span<const std::uint8_t> bytes, RegistryNode& root,
                         RegistryExportError* error);

// The limits the registry itself keeps, which bound the tree a file can make.
inline constexpr std::size_t kMaxExportKeyNameLength = 255;  // characters
inline constexpr std::size_t kMaxExportKeyDepth = 512;

}  // namespace glimmora
