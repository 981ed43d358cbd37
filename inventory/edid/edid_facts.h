#pragma once
// The EDID as it is: the identification fields of the base block as numbers,
// its checksum, and the serial-number and name texts that its descriptors and
// its extension blocks (CTA-861, DisplayID) carry. No choice is made here of
// what an inventory should store; inventory_identity.h does that on top.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace glimmora {

inline constexpr std::size_t kEdidBlockSize = 128;
inline constexpr std::size_t kDescriptorSize = 18;
inline constexpr std::uint8_t kDescriptorTagSerial = 0xFF;
inline constexpr std::uint8_t kDescriptorTagName = 0xFC;

// One display descriptor with a text: the thirteen bytes after the tag and its
// reserved byte, up to a line feed, trimmed of white space at both ends.
struct DescriptorText {
  std::uint8_t tag = 0;
  std::string text;
  // All thirteen bytes hold text (no line feed ends it early): a name that
  // long may go on in the next name descriptor.
  bool fillsField = false;
};

enum class ExtensionKind { kCta861, kDisplayId, kOther };
// kTruncated: the value ends inside the block or before it; kCorrupt: its
// checksum or its own lengths do not add up. Either way nothing of it is used.
enum class ExtensionState { kRead, kTruncated, kCorrupt };

// DisplayID product identification (data block 0x00 of version 1, 0x20 of 2).
struct DisplayIdProduct {
  std::uint16_t productCode = 0;
  std::uint32_t serialNumber = 0;
  std::string name;  // the product name string, trimmed; may be empty
};

struct EdidExtension {
  std::uint8_t tag = 0;
  ExtensionKind kind = ExtensionKind::kOther;
  ExtensionState state = ExtensionState::kRead;
  // CTA-861: the serial-number and name descriptors of its detailed-timing area.
  std::vector<DescriptorText> descriptors;
  std::optional<DisplayIdProduct> product;
};

enum class YearKind { kManufacture, kModel };

struct EdidFacts {
  // False when the value is shorter than the 128-byte base block: then none of
  // the facts below is known.
  bool baseComplete = false;
  std::string manufacturerCode;  // three characters, as Windows forms them in device ids
  std::uint16_t productCode = 0;
  std::uint32_t idSerialNumber = 0;
  bool checksumValid = false;
  YearKind yearKind = YearKind::kManufacture;
  // The base block's serial-number and name descriptors, in order of offset.
  std::vector<DescriptorText> descriptors;
  // Extension blocks as announced by byte 126, in order, the missing ones too.
  std::vector<EdidExtension> extensions;
};

// A pure function of the bytes; reads nothing past the end of the value.
EdidFacts ReadEdidFacts(std::span<const std::uint8_t> edid);

// "D11D": the product code in four upper-case hexadecimal digits.
std::string ProductCodeText(std::uint16_t productCode);

// The text of the descriptor at `descriptor` (18 bytes) when it is a
// serial-number or name descriptor.
std::optional<DescriptorText> ReadDescriptorText(
    std::span<const std::uint8_t, kDescriptorSize> descriptor);

// Whether the 128 bytes sum to zero modulo 256.
bool BlockChecksumValid(std::span<const std::uint8_t, kEdidBlockSize> block);

// The extension parsers, one per standard (edid_cta.cpp, edid_displayid.cpp).
// Each gets a whole block with a valid checksum.
void ReadCtaExtension(std::span<const std::uint8_t, kEdidBlockSize> block,
                      EdidExtension* extension);
void ReadDisplayIdExtension(std::span<const std::uint8_t, kEdidBlockSize> block,
                            EdidExtension* extension);

}  // namespace glimmora
