// CTA-861 extension blocks: only the 18-byte descriptors of the detailed-timing
// area are read, for the serial-number and name descriptors some monitors
// keep there instead of in the base block.
#include "inventory/edid/edid_facts.h"

namespace glimmora {

namespace {

// Byte 2 gives where the detailed timings start; 0 means there are none, and
// no value below 4 can be right, the header taking bytes 0 to 3.
constexpr std::size_t kFirstDataOffset = 4;
constexpr std::size_t kChecksumOffset = kEdidBlockSize - 1;

}  // namespace

void ReadCtaExtension(std::span<const std::uint8_t, kEdidBlockSize> block,
                      EdidExtension* extension) {
  const std::size_t timingStart = block[2];
  if (timingStart == 0) return;
  if (timingStart < kFirstDataOffset || timingStart > kChecksumOffset) {
    extension->state = ExtensionState::kCorrupt;
    return;
  }
  for (std::size_t offset = timingStart; offset + kDescriptorSize <= kChecksumOffset;
       offset += kDescriptorSize) {
    if (auto text = ReadDescriptorText(block.subspan(offset).first<kDescriptorSize>()))
      extension->descriptors.push_back(std::move(*text));
  }
}

}  // namespace glimmora
