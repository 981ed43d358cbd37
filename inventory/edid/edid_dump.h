#pragma once
// EDID dumps as people save them: hex text (16 bytes a line or any other
// spacing), the layout of the EDID collections with its "EDID (hex):" section,
// or the raw bytes themselves.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glimmora {

// The line that opens the hex section of a collected dump; the hex lines that
// follow it, up to the first empty line, are the block.
inline constexpr std::string_view kEdidHexLabel = "EDID (hex):";

// Turns a dump file's contents into EDID bytes. Contents with a line
// "EDID (hex):" or made only of hex digits and white space are hex text;
// anything else is taken as the bytes themselves. 0 on success; -1 when the
// hex text is malformed (odd digit count, another character in the section)
// or there are no bytes at all, with *errorText saying why. *block is only
// written on success.
int ParseEdidDump(std::string_view contents, std::vector<std::uint8_t>* block,
                  std::string* errorText);

}  // namespace glimmora
