// EDID values of any length through DecodeEdid and ReadEdidFacts (with its
// extension blocks) and the inventory's choice on top, and any file contents
// through ParseEdidDump: monitor firmware writes the one, people save the other.
#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/ansi_text.h"
#include "fuzz/fuzz_check.h"
#include "inventory/edid/edid.h"
#include "inventory/edid/edid_dump.h"
#include "inventory/edid/edid_facts.h"
#include "inventory/edid/inventory_identity.h"

namespace glimmora {
namespace {

constexpr std::size_t kBaseBlockSize = 128;
constexpr std::size_t kDescriptorTextLength = 14;

bool SameFields(const EdidFields& a, const EdidFields& b) {
  return a.model == b.model && a.serialNumber == b.serialNumber && a.monitorSize == b.monitorSize &&
         a.mfgDate == b.mfgDate && a.edidVersion == b.edidVersion;
}

void CheckDescriptorText(const std::string& text) {
  FUZZ_CHECK(text.size() <= kDescriptorTextLength);
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  FUZZ_CHECK(text.find('\n') == std::string::npos);
  if (!text.empty()) {
    FUZZ_CHECK(!IsTrimSpace(text.front()));
    FUZZ_CHECK(!IsTrimSpace(text.back()));
  }
}

// What every block must give, read against the bytes themselves.
void CheckFields(const EdidFields& fields, std::span<const std::uint8_t> block) {
  std::array<std::uint8_t, kBaseBlockSize> base{};
  for (std::size_t i = 0; i < block.size() && i < base.size(); ++i) base[i] = block[i];

  CheckDescriptorText(fields.model);
  CheckDescriptorText(fields.serialNumber);

  char expected[64];
  std::snprintf(expected, sizeof expected, "%d.%d", base[18], base[19]);
  FUZZ_CHECK(fields.edidVersion == expected);

  std::snprintf(expected, sizeof expected, "W:%dcm x H:%dcm (", base[21], base[22]);
  FUZZ_CHECK(std::string_view(fields.monitorSize).starts_with(expected));
  FUZZ_CHECK(std::string_view(fields.monitorSize).ends_with("\")"));

  // Week 0 to 255 of the years 1990 to 2245 land between 1989 and 2250.
  int year = -1;
  int month = -1;
  char rest = 0;
  FUZZ_CHECK(std::sscanf(fields.mfgDate.c_str(), "%d/%d%c", &year, &month, &rest) == 2);
  FUZZ_CHECK(year >= 1989 && year <= 2250);
  FUZZ_CHECK(month >= 1 && month <= 12);
}

bool HasText(const std::vector<DescriptorText>& descriptors, const std::string& text) {
  for (const DescriptorText& descriptor : descriptors) {
    FUZZ_CHECK(descriptor.text.size() <= 13);
    FUZZ_CHECK(descriptor.text.find_first_of(std::string("\n\0", 2)) == std::string::npos);
    if (descriptor.tag == kDescriptorTagSerial && descriptor.text == text) return true;
  }
  return false;
}

// Facts come only from the bytes that are there, and the chosen serial from
// where its source says.
void CheckFacts(std::span<const std::uint8_t> bytes) {
  const EdidFacts facts = ReadEdidFacts(bytes);
  const InventoryIdentity identity = ChooseInventoryIdentity(facts);
  if (bytes.size() < kBaseBlockSize) {
    FUZZ_CHECK(!facts.baseComplete && facts.extensions.empty());
    FUZZ_CHECK(identity.serialSource == SerialSource::kNone && identity.model.empty());
    return;
  }
  FUZZ_CHECK(facts.extensions.size() == bytes[126]);
  bool extensionSerial = false;
  for (std::size_t i = 0; i < facts.extensions.size(); ++i) {
    const EdidExtension& extension = facts.extensions[i];
    if (bytes.size() < (i + 2) * kBaseBlockSize)
      FUZZ_CHECK(extension.state == ExtensionState::kTruncated);
    if (extension.state != ExtensionState::kRead)
      FUZZ_CHECK(extension.descriptors.empty() && !extension.product);
    if (extension.kind != ExtensionKind::kCta861) FUZZ_CHECK(extension.descriptors.empty());
    if (extension.kind != ExtensionKind::kDisplayId) FUZZ_CHECK(!extension.product);
    if (extension.product) FUZZ_CHECK(extension.product->name.size() <= 116);
    extensionSerial = extensionSerial || HasText(extension.descriptors, identity.serial);
  }
  const bool baseSerial = HasText(facts.descriptors, identity.serial);
  switch (identity.serialSource) {
    case SerialSource::kDescriptor:
      FUZZ_CHECK(baseSerial && !IsPlaceholderSerialText(identity.serial));
      break;
    case SerialSource::kExtension:
      FUZZ_CHECK(extensionSerial && !IsPlaceholderSerialText(identity.serial));
      break;
    case SerialSource::kIdNumber:
      FUZZ_CHECK(!identity.serial.empty() &&
                 identity.serial.find_first_not_of("0123456789") == std::string::npos);
      FUZZ_CHECK(!IsPlaceholderIdSerial(static_cast<std::uint32_t>(std::stoul(identity.serial))));
      break;
    case SerialSource::kNone:
      FUZZ_CHECK(identity.serial.empty());
      break;
  }
}

}  // namespace
}  // namespace glimmora

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmora;
  const std::span<const std::uint8_t> bytes(data, size);
  const EdidFields fields = DecodeEdid(bytes);
  CheckFields(fields, bytes);
  CheckFacts(bytes);

  // Only the base block counts: a short value reads as if zero-padded, and
  // whatever follows byte 127 changes nothing.
  std::array<std::uint8_t, kBaseBlockSize> padded{};
  for (std::size_t i = 0; i < size && i < padded.size(); ++i) padded[i] = data[i];
  FUZZ_CHECK(SameFields(DecodeEdid(padded), fields));

  std::vector<std::uint8_t> block;
  std::string errorText;
  const std::string_view contents(reinterpret_cast<const char*>(data), size);
  if (ParseEdidDump(contents, &block, &errorText) == 0) {
    FUZZ_CHECK(!block.empty());
    CheckFields(DecodeEdid(block), block);
  } else {
    FUZZ_CHECK(!errorText.empty());
    FUZZ_CHECK(block.empty());
  }
  return 0;
}
