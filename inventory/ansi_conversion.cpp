#include "inventory/ansi_conversion.h"

#include <cstdint>

#include "common/utf8.h"

namespace glimmora {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

void AppendUtf8(std::uint32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Sequence sequence = DecodeUtf8(text.substr(i));
    if (sequence.valid)
      out.append(text.substr(i, sequence.length));
    else
      out.append(kReplacementUtf8);
    i += sequence.length;
  }
  return out;
}

std::string Utf8FromUtf16(std::string_view bytes) {
  constexpr std::uint32_t kReplacement = 0xFFFD;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const std::size_t units = bytes.size() / 2;
  auto unit = [&bytes](std::size_t i) -> std::uint32_t {
    return static_cast<unsigned char>(bytes[2 * i]) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * i + 1])) << 8);
  };
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t first = unit(i);
    if (first >= 0xD800 && first <= 0xDBFF && i + 1 < units) {
      const std::uint32_t second = unit(i + 1);
      if (second >= 0xDC00 && second <= 0xDFFF) {
        AppendUtf8(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), out);
        ++i;
        continue;
      }
    }
    AppendUtf8(first >= 0xD800 && first <= 0xDFFF ? kReplacement : first, out);
  }
  return out;
}

}  // namespace glimmora
