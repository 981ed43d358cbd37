#pragma once
// The EDID base block (version 1.x) as it is stored: the fields the inventory
// reads, as numbers and as the descriptors' raw text bytes, read from fixed
// offsets without validation. edid.h turns them into the texts of a row.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace glimmora {

inline constexpr std::size_t kEdidBaseBlockSize = 128;
// Where the base block's four 18-byte descriptors start.
inline constexpr std::size_t kEdidDescriptorOffsets[] = {54, 72, 90, 108};

struct EdidBaseBlock {
  std::uint8_t manufactureWeek = 0;  // byte 16 (0: none; 0xFF: the year is a model year)
  int manufactureYear = 1990;        // 1990 + byte 17
  std::uint8_t version = 0;          // byte 18
  std::uint8_t revision = 0;         // byte 19
  std::uint8_t widthCm = 0;          // byte 21, horizontal screen size (0: unknown or aspect)
  std::uint8_t heightCm = 0;         // byte 22, vertical screen size
  // Bytes 4 to 17 of the last display-name (tag 0xFC) and serial-number (tag
  // 0xFF) display descriptors, exactly as stored (byte 4 is the reserved one);
  // none when the block has no such descriptor.
  std::optional<std::string> displayNameBytes;
  std::optional<std::string> serialNumberBytes;
};

// A block shorter than 128 bytes reads as if padded with zero bytes to 128;
// bytes after the first 128 are not looked at.
EdidBaseBlock DecodeEdidBaseBlock(std::span<const std::uint8_t> block);

}  // namespace glimmora
