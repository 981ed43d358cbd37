// DisplayID extension blocks (versions 1.x and 2.x): the product
// identification data block, which carries a product code, a 32-bit serial
// number and a product name.
#include <numeric>

#include "common/ansi_text.h"
#include "inventory/edid/edid_facts.h"

namespace glimmora {

namespace {

// Bytes 1 to 4 are the section header (version, payload length, product type
// or use case, extension count), data blocks follow from byte 5, and the
// section's own checksum comes right after its payload.
constexpr std::size_t kSectionStart = 1;
constexpr std::size_t kPayloadStart = 5;
constexpr std::size_t kBlockChecksumOffset = kEdidBlockSize - 1;
constexpr std::size_t kDataBlockHeaderSize = 3;
constexpr std::uint8_t kProductIdTagVersion1 = 0x00;
constexpr std::uint8_t kProductIdTagVersion2 = 0x20;
// Vendor id (3), product code (2), serial number (4), week, year, name length.
constexpr std::size_t kProductIdFixedSize = 12;

}  // namespace

void ReadDisplayIdExtension(std::span<const std::uint8_t, kEdidBlockSize> block,
                            EdidExtension* extension) {
  const std::size_t payloadEnd = kPayloadStart + block[2];
  // The section checksum sits at payloadEnd and must come before the block's.
  if (payloadEnd >= kBlockChecksumOffset) {
    extension->state = ExtensionState::kCorrupt;
    return;
  }
  const auto section = block.subspan(kSectionStart, payloadEnd + 1 - kSectionStart);
  if (std::accumulate(section.begin(), section.end(), 0u) % 256 != 0) {
    extension->state = ExtensionState::kCorrupt;
    return;
  }
  const bool version2 = block[1] >= 0x20;
  const std::uint8_t productTag = version2 ? kProductIdTagVersion2 : kProductIdTagVersion1;
  std::size_t offset = kPayloadStart;
  while (offset < payloadEnd) {
    // The payload may end in padding of zero bytes.
    if (offset + kDataBlockHeaderSize > payloadEnd) break;
    const std::uint8_t tag = block[offset];
    const std::size_t length = block[offset + 2];
    const std::size_t dataStart = offset + kDataBlockHeaderSize;
    if (dataStart + length > payloadEnd) {
      extension->state = ExtensionState::kCorrupt;
      extension->product.reset();
      return;
    }
    if (tag == productTag && length >= kProductIdFixedSize && !extension->product) {
      const auto data = block.subspan(dataStart, length);
      const std::size_t nameLength = data[11];
      if (kProductIdFixedSize + nameLength > length) {
        extension->state = ExtensionState::kCorrupt;
        return;
      }
      DisplayIdProduct product;
      product.productCode = static_cast<std::uint16_t>(data[3] | data[4] << 8);
      product.serialNumber =
          static_cast<std::uint32_t>(data[5]) | static_cast<std::uint32_t>(data[6]) << 8 |
          static_cast<std::uint32_t>(data[7]) << 16 | static_cast<std::uint32_t>(data[8]) << 24;
      std::string name(reinterpret_cast<const char*>(data.data()) + kProductIdFixedSize,
                       nameLength);
      product.name = TrimWhiteSpace(name.substr(0, name.find('\0')));
      extension->product = std::move(product);
    }
    offset = dataStart + length;
  }
}

}  // namespace glimmora
