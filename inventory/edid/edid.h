#pragma once
// The five texts of a row from an EDID base block (version 1.x), formatted from
// the block's fields as edid_base_block.h reads them.

#include <cstdint>
#include <span>
#include <string>

namespace glimmora {

struct EdidFields {
  std::string model;         // last display-name descriptor (0xFC), trimmed; may be empty
  std::string serialNumber;  // last serial-number descriptor (0xFF), trimmed; may be empty
  std::string monitorSize;   // W:%dcm x H:%dcm (%2.1f")
  std::string mfgDate;       // year/month in the local time zone
  std::string edidVersion;   // version.revision
};

// A pure function of the bytes and the local time zone. Reads fixed offsets of
// the base block only; nothing is validated. A block shorter than 128 bytes
// decodes as if it were padded with zero bytes to 128.
EdidFields DecodeEdid(std::span<const std::uint8_t> block);

}  // namespace glimmora
