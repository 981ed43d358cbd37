#pragma once
// What an asset inventory should store for a monitor, chosen from its EDID
// facts: a model name and a serial number with where it came from, passing
// over the placeholders that firmware writes where it has no real value.

#include <cstdint>
#include <string>
#include <string_view>

#include "inventory/edid/edid_facts.h"

namespace glimmora {

enum class SerialSource {
  kDescriptor,  // the base block's serial-number descriptor
  kExtension,   // a serial-number descriptor of a CTA-861 extension block
  kIdNumber,    // the 32-bit ID serial number (of the base block, else of DisplayID)
  kNone,
};

struct InventoryIdentity {
  std::string model;   // empty when the EDID names no model
  std::string serial;  // empty when the source is kNone
  SerialSource serialSource = SerialSource::kNone;
  // The base block's serial-number text, the one a plain listing shows, is a placeholder.
  bool placeholderSerial = false;
};

// Blank, the same character over and over, a repeated pair ("0101..."), zeros
// ending in one 1, a run of ascending digits, a word in place of a number
// ("SERIAL", "N/A"), or a text known to be shared by many products.
bool IsPlaceholderSerialText(std::string_view text);

// 0, 1, the same byte four times (0x01010101, 0xFFFFFFFF), or a number
// known to be shared by many products.
bool IsPlaceholderIdSerial(std::uint32_t number);

// Serial: the base block's serial text unless it is a placeholder; else a
// serial descriptor of an extension block; else the ID number (the base
// block's, then a DisplayID block's) when it is not a placeholder.
// Model: the first non-blank name descriptor, joined with the next name
// descriptor when it fills its field and the name goes on there; else the
// same from the extension blocks; else a DisplayID product name.
InventoryIdentity ChooseInventoryIdentity(const EdidFacts& facts);

// "descriptor", "extension", "id-number", "none".
std::string_view SerialSourceName(SerialSource source);

}  // namespace glimmora
