#include "inventory/edid/edid_dump.h"

#include <cstdio>
#include <iterator>

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

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Whether the text is a value copied from a registry export: an optional
// quoted value name and "=", an optional "hex:" or "hex(type):", then only
// hex digits, commas, blanks and backslashes. *list is what follows the
// prefixes. A text with neither prefix needs a comma to count.
bool FindRegistryHex(std::string_view contents, std::string_view* list) {
  std::string_view text = TrimBlanks(contents);
  bool prefixed = false;
  if (!text.empty() && text.front() == '"') {
    const std::size_t close = text.find('"', 1);
    if (close == std::string_view::npos) return false;
    text = TrimBlanks(text.substr(close + 1));
    if (text.empty() || text.front() != '=') return false;
    text = TrimBlanks(text.substr(1));
    prefixed = true;
  }
  if (StartsWithNoCase(text, "hex")) {
    text.remove_prefix(3);
    if (!text.empty() && text.front() == '(') {
      const std::size_t close = text.find(')');
      if (close == std::string_view::npos) return false;
      for (char c : text.substr(1, close - 1)) {
        if (!IsHexDigit(c)) return false;
      }
      text.remove_prefix(close + 1);
    }
    if (text.empty() || text.front() != ':') return false;
    text.remove_prefix(1);
    prefixed = true;
  }
  for (char c : text) {
    if (!IsHexDigit(c) && !IsBlank(c) && c != ',' && c != '\\') return false;
  }
  if (!prefixed && text.find(',') == std::string_view::npos) return false;
  *list = text;
  return true;
}

// Comma-separated bytes of one or two hex digits; a comma may end the list,
// and a backslash may end a line, which then goes on in the next.
int ParseRegistryHex(std::string_view list, std::vector<std::uint8_t>* bytes,
                     std::string* errorText) {
  std::vector<std::uint8_t> out;
  std::string token;
  bool trailingComma = false;
  auto takeToken = [&](bool last) {
    if (token.empty()) {
      if (last && (trailingComma || out.empty())) return true;
      *errorText = "no byte between two commas";
      return false;
    }
    if (token.size() > 2) {
      *errorText = "'" + token + "' is not a byte of one or two hex digits";
      return false;
    }
    out.push_back(static_cast<std::uint8_t>(
        token.size() == 1 ? HexValue(token[0]) : HexValue(token[0]) * 16 + HexValue(token[1])));
    token.clear();
    return true;
  };
  for (std::size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    if (c == '\\') {
      const std::size_t lineEnd = list.find('\n', i);
      const std::string_view rest = list.substr(
          i + 1, lineEnd == std::string_view::npos ? std::string_view::npos : lineEnd - i - 1);
      if (!TrimBlanks(rest).empty()) {
        *errorText = "a backslash that does not end its line";
        return -1;
      }
      continue;
    }
    if (IsBlank(c)) continue;
    if (c == ',') {
      if (!takeToken(false)) return -1;
      trailingComma = true;
      continue;
    }
    token.push_back(c);
    trailingComma = false;
  }
  if (!takeToken(true)) return -1;
  *bytes = std::move(out);
  return 0;
}

}  // namespace

bool HasEdidHeader(std::span<const std::uint8_t> block) {
  static constexpr std::uint8_t kHeader[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  if (block.size() < std::size(kHeader)) return false;
  for (std::size_t i = 0; i < std::size(kHeader); ++i) {
    if (block[i] != kHeader[i]) return false;
  }
  return true;
}

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
  } else if (std::string_view list; FindRegistryHex(contents, &list)) {
    std::string reason;
    if (ParseRegistryHex(list, &bytes, &reason) != 0) {
      *errorText = "comma-separated hex: " + reason;
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
