#pragma once
// Builds EDID blocks for tests: a base block with the fields the decoder reads,
// and as many extension blocks as the size asks for.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace glimmora::testing {

struct EdidSpec {
  std::string model;   // display-name descriptor (0xFC); none when empty
  std::string serial;  // serial-number descriptor (0xFF); none when empty
  int widthCm = 52;
  int heightCm = 32;
  int week = 20;  // mid-May: the same month in every time zone
  int year = 2008;
  int version = 1;
  int revision = 3;
  std::size_t size = 128;  // 128, 256, 384, 512...
};

inline void PutDescriptor(std::vector<std::uint8_t>& block, std::size_t offset, std::uint8_t tag,
                          const std::string& text) {
  block[offset + 3] = tag;
  std::size_t i = 0;
  for (; i < text.size() && i < 13; ++i) block[offset + 5 + i] = static_cast<std::uint8_t>(text[i]);
  if (i < 13) block[offset + 5 + i++] = '\n';
  for (; i < 13; ++i) block[offset + 5 + i] = ' ';
}

inline std::vector<std::uint8_t> MakeEdid(const EdidSpec& spec) {
  std::vector<std::uint8_t> block(std::max<std::size_t>(spec.size, 128), 0);
  const std::uint8_t header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(header, header + 8, block.begin());
  block[8] = 0x10;  // manufacturer "DEL"
  block[9] = 0xAC;
  block[16] = static_cast<std::uint8_t>(spec.week);
  block[17] = static_cast<std::uint8_t>(spec.year - 1990);
  block[18] = static_cast<std::uint8_t>(spec.version);
  block[19] = static_cast<std::uint8_t>(spec.revision);
  block[21] = static_cast<std::uint8_t>(spec.widthCm);
  block[22] = static_cast<std::uint8_t>(spec.heightCm);
  // A detailed timing first, as real blocks have.
  for (std::size_t i = 54; i < 72; ++i) block[i] = 0x11;
  if (!spec.model.empty()) PutDescriptor(block, 72, 0xFC, spec.model);
  if (!spec.serial.empty()) PutDescriptor(block, 90, 0xFF, spec.serial);
  PutDescriptor(block, 108, 0xFD, "");
  block[126] = static_cast<std::uint8_t>(block.size() / 128 - 1);
  for (std::size_t i = 128; i < block.size(); ++i) block[i] = (i % 128 == 0) ? 0x02 : 0x5A;
  // Extension blocks carry descriptors of their own that the base block's
  // decoder must not see: a name in each one.
  for (std::size_t ext = 128; ext + 128 <= block.size(); ext += 128)
    PutDescriptor(block, ext + 72, 0xFC, "EXTENSION");
  return block;
}

}  // namespace glimmora::testing
