#include "inventory/edid/edid_facts.h"

#include <cstdio>
#include <numeric>

#include "common/ansi_text.h"
#include "inventory/edid/edid_base_block.h"

namespace glimmora {

namespace {

constexpr std::size_t kDescriptorTextOffset = 5;
constexpr std::size_t kExtensionCountOffset = 126;
constexpr std::uint8_t kExtensionTagCta861 = 0x02;
constexpr std::uint8_t kExtensionTagDisplayId = 0x70;
// EDID 1.4 gives week 255 the meaning "byte 17 is a model year".
constexpr std::uint8_t kModelYearWeek = 0xFF;

}  // namespace

std::string ProductCodeText(std::uint16_t productCode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(productCode));
  return text;
}

bool BlockChecksumValid(std::span<const std::uint8_t, kEdidBlockSize> block) {
  return std::accumulate(block.begin(), block.end(), 0u) % 256 == 0;
}

std::optional<DescriptorText> ReadDescriptorText(
    std::span<const std::uint8_t, kDescriptorSize> descriptor) {
  // A display descriptor has a pixel clock of 0 and a zero byte 2; byte 3 is its tag.
  if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0) return std::nullopt;
  if (descriptor[3] != kDescriptorTagSerial && descriptor[3] != kDescriptorTagName)
    return std::nullopt;
  DescriptorText result;
  result.tag = descriptor[3];
  std::string text;
  result.fillsField = true;
  for (std::size_t i = kDescriptorTextOffset; i < kDescriptorSize; ++i) {
    const char c = static_cast<char>(descriptor[i]);
    if (c == '\n' || c == '\0') {
      result.fillsField = false;
      break;
    }
    text.push_back(c);
  }
  result.text = TrimWhiteSpace(text);
  return result;
}

EdidFacts ReadEdidFacts(std::span<const std::uint8_t> edid) {
  EdidFacts facts;
  if (edid.size() < kEdidBlockSize) return facts;
  const auto base = edid.first<kEdidBlockSize>();
  facts.baseComplete = true;

  // Three 5-bit letters, 1 standing for A; Windows adds '@' to each whatever
  // its value, so the code reads as it does in the device id.
  const unsigned maker = static_cast<unsigned>(base[8]) << 8 | base[9];
  for (const int shift : {10, 5, 0})
    facts.manufacturerCode.push_back(static_cast<char>('@' + ((maker >> shift) & 0x1F)));
  facts.productCode = static_cast<std::uint16_t>(base[10] | base[11] << 8);
  facts.idSerialNumber =
      static_cast<std::uint32_t>(base[12]) | static_cast<std::uint32_t>(base[13]) << 8 |
      static_cast<std::uint32_t>(base[14]) << 16 | static_cast<std::uint32_t>(base[15]) << 24;
  facts.checksumValid = BlockChecksumValid(base);
  const bool edid14OrLater = base[18] == 1 && base[19] >= 4;
  facts.yearKind =
      edid14OrLater && base[16] == kModelYearWeek ? YearKind::kModel : YearKind::kManufacture;
  for (const std::size_t offset : kEdidDescriptorOffsets) {
    if (auto text = ReadDescriptorText(base.subspan(offset).first<kDescriptorSize>()))
      facts.descriptors.push_back(std::move(*text));
  }

  const std::size_t announced = base[kExtensionCountOffset];
  for (std::size_t index = 1; index <= announced; ++index) {
    EdidExtension& extension = facts.extensions.emplace_back();
    const std::size_t start = index * kEdidBlockSize;
    if (edid.size() < start + kEdidBlockSize) {
      extension.state = ExtensionState::kTruncated;
      if (edid.size() > start) extension.tag = edid[start];
      continue;
    }
    const auto block = edid.subspan(start).first<kEdidBlockSize>();
    extension.tag = block[0];
    if (extension.tag == kExtensionTagCta861)
      extension.kind = ExtensionKind::kCta861;
    else if (extension.tag == kExtensionTagDisplayId)
      extension.kind = ExtensionKind::kDisplayId;
    if (!BlockChecksumValid(block)) {
      extension.state = ExtensionState::kCorrupt;
      continue;
    }
    if (extension.kind == ExtensionKind::kCta861) ReadCtaExtension(block, &extension);
    if (extension.kind == ExtensionKind::kDisplayId) ReadDisplayIdExtension(block, &extension);
  }
  return facts;
}

}  // namespace glimmora
