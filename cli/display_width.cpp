#include "cli/display_width.h"

#include <cstdint>

#include "common/ansi_text.h"
#include "common/utf8.h"

namespace glimmora::cli {

namespace {

struct Range {
  std::uint32_t first;
  std::uint32_t last;
};

// Characters of East Asian width W or F (Unicode 15), merged into ranges.
constexpr Range kWideRanges[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},
    {0xA960, 0xA97F},   {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE10, 0xFE19},
    {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x16FE4},
    {0x17000, 0x18CFF}, {0x1B000, 0x1B2FF}, {0x1F004, 0x1F004}, {0x1F0CF, 0x1F0CF},
    {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F202}, {0x1F210, 0x1F23B},
    {0x1F240, 0x1F248}, {0x1F250, 0x1F251}, {0x1F260, 0x1F265}, {0x1F300, 0x1F320},
    {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E},
    {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4},
    {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
    {0x1F6D5, 0x1F6D7}, {0x1F6DC, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC},
    {0x1F7E0, 0x1F7EB}, {0x1F7F0, 0x1F7F0}, {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945},
    {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAFF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsWide(std::uint32_t codePoint) {
  std::size_t low = 0;
  std::size_t high = sizeof kWideRanges / sizeof kWideRanges[0];
  while (low < high) {
    const std::size_t middle = (low + high) / 2;
    if (codePoint < kWideRanges[middle].first)
      high = middle;
    else if (codePoint > kWideRanges[middle].last)
      low = middle + 1;
    else
      return true;
  }
  return false;
}

}  // namespace

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = CharacterLength(text.substr(pos));
    const Utf8Sequence sequence = DecodeUtf8(text.substr(pos, length));
    if (length == 1)
      width += 1;
    else if (sequence.valid && sequence.length == length)
      width += IsWide(sequence.codePoint) ? 2 : 1;
    else
      width += 2;  // a double-byte character of the code page
    pos += length;
  }
  return width;
}

std::string PrintableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t length = CharacterLength(text.substr(pos));
    const auto byte = static_cast<unsigned char>(text[pos]);
    // The C1 controls, U+0080 to U+009F, are two bytes in UTF-8.
    const Utf8Sequence sequence = DecodeUtf8(text.substr(pos, length));
    if (length == 1 && (byte < 0x20 || byte == 0x7F))
      out.push_back('?');
    else if (length == 2 && sequence.valid && sequence.length == 2 && sequence.codePoint < 0xA0)
      out.push_back('?');
    else
      out.append(text.substr(pos, length));
    pos += length;
  }
  return out;
}

std::string ShortPrintableText(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return PrintableText(text);
  std::size_t cut = 0;
  while (cut < text.size()) {
    const std::size_t length = CharacterLength(text.substr(cut));
    if (cut + length > maxBytes) break;
    cut += length;
  }
  return PrintableText(text.substr(0, cut)) + "...";
}

}  // namespace glimmora::cli
