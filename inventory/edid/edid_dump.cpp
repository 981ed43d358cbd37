#include "inventory/edid/edid_dump.h"

#include <cstdio>

namespace glimmora {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsHexText(std::string_view text) {
  for (char c : text) {
    if (!IsHexDigit(c) && !IsBlank(c)) return false;
  }
  return true;
}

// Pairs of hex digits; white space may stand anywhere, even inside a pair,
// as some tools print nibbles apart.
int ParseHex(std::string_view text, std::vector<std::uint8_t>* bytes, std::string* errorText) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 2);
  int pending = -1;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (!IsHexDigit(c)) {
      char message[64];
      std::snprintf(message, sizeof message, "'%c' (0x%02X) is not a hex digit", c,
                    static_cast<unsigned>(static_cast<unsigned char>(c)));
      *errorText = message;
      return -1;
    }
    if (pending < 0) {
      pending = HexValue(c);
    } else {
      out.push_back(static_cast<std::uint8_t>(pending * 16 + HexValue(c)));
      pending = -1;
    }
  }
  if (pending >= 0) {
    *errorText = "odd number of hex digits";
    return -1;
  }
  *bytes = std::move(out);
  return 0;
}

// The hex lines after the label line, up to the first empty line (empty lines
// right after the label are passed over). False when there is no label line.
bool FindLabelledHex(std::string_view contents, std::string_view* hex) {
  bool inside = false;
  std::size_t sectionBegin = std::string_view::npos;
  std::size_t sectionEnd = contents.size();
  std::size_t pos = 0;
  while (pos < contents.size()) {
    std::size_t end = contents.find('\n', pos);
    if (end == std::string_view::npos) end = contents.size();
    const std::string_view line = TrimBlanks(contents.substr(pos, end - pos));
    if (!inside) {
      inside = line == kEdidHexLabel;
    } else if (line.empty()) {
      if (sectionBegin != std::string_view::npos) {
        sectionEnd = pos;
        break;
      }
    } else if (sectionBegin == std::string_view::npos) {
      sectionBegin = pos;
    }
    pos = end + 1;
  }
  if (!inside) return false;
  *hex = sectionBegin == std::string_view::npos
             ? std::string_view()
             : contents.substr(sectionBegin, sectionEnd - sectionBegin);
  return true;
}

}  // namespace

int ParseEdidDump(std::string_view contents, std::vector<std::uint8_t>* block,
                  std::string* errorText) {
  std::vector<std::uint8_t> bytes;
  std::string_view hex;
  if (FindLabelledHex(contents, &hex)) {
    std::string reason;
    if (ParseHex(hex, &bytes, &reason) != 0) {
      *errorText = "hex lines after \"" + std::string(kEdidHexLabel) + "\": " + reason;
      return -1;
    }
  } else if (IsHexText(contents)) {
    std::string reason;
    if (ParseHex(contents, &bytes, &reason) != 0) {
      *errorText = "hex text: " + reason;
      return -1;
    }
  } else {
    bytes.assign(contents.begin(), contents.end());
  }
  // An empty dump would decode as a block of zeros, which no monitor sent.
  if (bytes.empty()) {
    *errorText = "no EDID bytes";
    return -1;
  }
  *block = std::move(bytes);
  return 0;
}

}  // namespace glimmora
