#include "inventory/edid/inventory_identity.h"

#include <algorithm>
#include <vector>

#include "common/ansi_text.h"

namespace glimmora {

namespace {

// Words firmware writes where a number should be, compared without regard to
// letter case once blanks are gone.
constexpr std::string_view kPlaceholderWords[] = {
    "SERIAL", "SERIALNUMBER", "SERIALNO", "SN",  "S/N", "NONE",  "N/A",  "NA",
    "NULL",   "UNKNOWN",      "DEFAULT",  "TBD", "TBA", "EMPTY", "DEMO", "NOSERIAL",
};
// Serial texts found on monitors of several unrelated products.
constexpr std::string_view kSharedSerialTexts[] = {"H1AK500000"};
// ID numbers found on many products of one maker: 0x5445 ("ET") on BenQ's.
constexpr std::uint32_t kSharedIdSerials[] = {0x5445};
constexpr std::size_t kMinAscendingRun = 4;

std::string WithoutBlanks(std::string_view text) {
  std::string result;
  for (char c : text) {
    if (!IsTrimSpace(c)) result.push_back(c);
  }
  return result;
}

// "0101", "ABAB": the text is one or two characters repeated.
bool RepeatsUnit(std::string_view text, std::size_t unit) {
  if (text.size() < unit) return false;
  for (std::size_t i = unit; i < text.size(); ++i) {
    if (text[i] != text[i - unit]) return false;
  }
  return true;
}

bool IsAscendingDigits(std::string_view text) {
  if (text.size() < kMinAscendingRun) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    if (i > 0 && text[i] != text[i - 1] + 1 && !(text[i - 1] == '9' && text[i] == '0'))
      return false;
  }
  return true;
}

std::string DecimalText(std::uint32_t number) {
  return std::to_string(number);
}

// The first non-blank name among the descriptors, joined with the next name
// descriptor when the first fills its field.
std::string ChooseName(const std::vector<DescriptorText>& descriptors) {
  for (std::size_t i = 0; i < descriptors.size(); ++i) {
    const DescriptorText& first = descriptors[i];
    if (first.tag != kDescriptorTagName || first.text.empty()) continue;
    if (!first.fillsField) return first.text;
    for (std::size_t j = i + 1; j < descriptors.size(); ++j) {
      if (descriptors[j].tag != kDescriptorTagName) continue;
      return descriptors[j].text.empty() ? first.text
                                         : TrimWhiteSpace(first.text + descriptors[j].text);
    }
    return first.text;
  }
  return {};
}

}  // namespace

bool IsPlaceholderSerialText(std::string_view text) {
  const std::string compact = WithoutBlanks(text);
  if (compact.empty()) return true;
  if (RepeatsUnit(compact, 1) || (compact.size() >= 4 && RepeatsUnit(compact, 2))) return true;
  // "0…01": zeros and a final one.
  if (compact.size() >= 2 && compact.back() == '1' &&
      compact.find_first_not_of('0') == compact.size() - 1)
    return true;
  if (IsAscendingDigits(compact)) return true;
  const std::string upper = ToUpperAnsi(compact);
  for (std::string_view word : kPlaceholderWords) {
    if (upper == word) return true;
  }
  for (std::string_view shared : kSharedSerialTexts) {
    if (upper == shared) return true;
  }
  return false;
}

bool IsPlaceholderIdSerial(std::uint32_t number) {
  if (number <= 1) return true;
  const std::uint32_t lowByte = number & 0xFF;
  if (number == lowByte * 0x01010101u) return true;
  return std::find(std::begin(kSharedIdSerials), std::end(kSharedIdSerials), number) !=
         std::end(kSharedIdSerials);
}

InventoryIdentity ChooseInventoryIdentity(const EdidFacts& facts) {
  InventoryIdentity identity;
  if (!facts.baseComplete) return identity;

  // The plain listing shows the last serial descriptor's text: that is the one flagged.
  const DescriptorText* shownSerial = nullptr;
  for (const DescriptorText& descriptor : facts.descriptors) {
    if (descriptor.tag == kDescriptorTagSerial) shownSerial = &descriptor;
  }
  identity.placeholderSerial = shownSerial != nullptr && IsPlaceholderSerialText(shownSerial->text);

  auto firstRealSerial = [](const std::vector<DescriptorText>& descriptors) -> const std::string* {
    for (const DescriptorText& descriptor : descriptors) {
      if (descriptor.tag == kDescriptorTagSerial && !IsPlaceholderSerialText(descriptor.text))
        return &descriptor.text;
    }
    return nullptr;
  };
  if (const std::string* serial = firstRealSerial(facts.descriptors)) {
    identity.serial = *serial;
    identity.serialSource = SerialSource::kDescriptor;
  }
  for (const EdidExtension& extension : facts.extensions) {
    if (identity.serialSource != SerialSource::kNone) break;
    if (extension.state != ExtensionState::kRead) continue;
    if (const std::string* serial = firstRealSerial(extension.descriptors)) {
      identity.serial = *serial;
      identity.serialSource = SerialSource::kExtension;
    }
  }
  if (identity.serialSource == SerialSource::kNone) {
    std::uint32_t number = facts.idSerialNumber;
    for (const EdidExtension& extension : facts.extensions) {
      if (!IsPlaceholderIdSerial(number)) break;
      if (extension.state == ExtensionState::kRead && extension.product)
        number = extension.product->serialNumber;
    }
    if (!IsPlaceholderIdSerial(number)) {
      identity.serial = DecimalText(number);
      identity.serialSource = SerialSource::kIdNumber;
    }
  }

  identity.model = ChooseName(facts.descriptors);
  for (const EdidExtension& extension : facts.extensions) {
    if (!identity.model.empty()) break;
    if (extension.state != ExtensionState::kRead) continue;
    identity.model = ChooseName(extension.descriptors);
    if (identity.model.empty() && extension.product) identity.model = extension.product->name;
  }
  return identity;
}

std::string_view SerialSourceName(SerialSource source) {
  switch (source) {
    case SerialSource::kDescriptor:
      return "descriptor";
    case SerialSource::kExtension:
      return "extension";
    case SerialSource::kIdNumber:
      return "id-number";
    case SerialSource::kNone:
      break;
  }
  return "none";
}

}  // namespace glimmora
