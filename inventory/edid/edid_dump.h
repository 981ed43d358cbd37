#pragma once
// EDID dumps as people save them: hex text (16 bytes a line or any other
// spacing), the layout of the EDID collections with its "EDID (hex):" section,
// comma-separated bytes copied from a registry export, or the raw bytes
// themselves.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace glimmora {

// The line that opens the hex section of a collected dump; the hex lines that
// follow it, up to the first empty line, are the block.
inline constexpr std::string_view kEdidHexLabel = "EDID (hex):";

// The largest dump file read. An EDID has at most 256 blocks of 128 bytes
// (32 KB, the registry keeps a few); even as hex text with a decoder's report
// beside it, a dump stays far below this.
inline constexpr std::size_t kMaxEdidDumpSize = std::size_t{1} << 20;

// The eight bytes every EDID base block begins with.
bool HasEdidHeader(std::span<const std::uint8_t> block);

// Turns a dump file's contents into EDID bytes. Contents with a line
// "EDID (hex):" or made only of hex digits and white space are hex text;
// bytes as a registry export writes them ("00,ff,ff", after a "hex:" and a
// value name if they are there, over lines that end in a backslash) are read
// as hex too; anything else is taken as the bytes themselves. 0 on success; -1 when the
// hex text is malformed (odd digit count, another character in the section)
// or there are no bytes at all, with *errorText saying why. *block is only
// written on success.
int ParseEdidDump(std::string_view contents, std::vector<std::uint8_t>* block,
                  std::string* errorText);

}  // namespace glimmora
