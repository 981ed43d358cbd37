#include "common/utf8.h"

namespace glimmora {

Utf8Sequence DecodeUtf8(std::string_view text) {
  const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  Utf8Sequence sequence;
  const unsigned char lead = byte(0);
  if (lead < 0x80) return {lead, 1, true};
  // The length a lead byte announces and the range its second byte must be
  // in: overlong forms, surrogates and code points beyond U+10FFFF fall outside.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    sequence.codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    sequence.codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    sequence.codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  std::size_t fitting = 1;
  while (length != 0 && fitting < length && fitting < text.size()) {
    const unsigned char next = byte(fitting);
    if (next < (fitting == 1 ? low : 0x80) || next > (fitting == 1 ? high : 0xBF)) break;
    sequence.codePoint = (sequence.codePoint << 6) | (next & 0x3F);
    ++fitting;
  }
  sequence.length = fitting;
  sequence.valid = length != 0 && fitting == length;
  if (!sequence.valid) sequence.codePoint = 0;
  return sequence;
}

}  // namespace glimmora
