#include "inventory/edid/edid_base_block.h"

#include <array>

namespace glimmora {

namespace {

constexpr std::size_t kRowTextOffset = 4;
constexpr std::size_t kRowTextLength = 14;
constexpr std::uint8_t kTagSerialNumber = 0xFF;
constexpr std::uint8_t kTagDisplayName = 0xFC;

}  // namespace

EdidBaseBlock DecodeEdidBaseBlock(std::span<const std::uint8_t> block) {
  std::array<std::uint8_t, kEdidBaseBlockSize> base{};
  const std::size_t available = block.size() < base.size() ? block.size() : base.size();
  for (std::size_t i = 0; i < available; ++i) base[i] = block[i];

  EdidBaseBlock fields;
  fields.manufactureWeek = base[16];
  fields.manufactureYear = 1990 + base[17];
  fields.version = base[18];
  fields.revision = base[19];
  fields.widthCm = base[21];
  fields.heightCm = base[22];
  for (std::size_t offset : kEdidDescriptorOffsets) {
    const std::uint8_t* descriptor = base.data() + offset;
    // A display descriptor starts with three zero bytes; a detailed timing does not.
    if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0) continue;
    const char* text = reinterpret_cast<const char*>(descriptor + kRowTextOffset);
    if (descriptor[3] == kTagSerialNumber) {
      fields.serialNumberBytes.emplace(text, kRowTextLength);
    } else if (descriptor[3] == kTagDisplayName) {
      fields.displayNameBytes.emplace(text, kRowTextLength);
    }
  }
  return fields;
}

}  // namespace glimmora
