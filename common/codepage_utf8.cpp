// Off Windows the program's 8-bit text is UTF-8.
#include "common/ansi_text.h"

namespace glimmora {

std::size_t CharacterLength(std::string_view text) {
  if (text.empty()) return 1;
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t len = 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    len = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    len = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    len = 4;
  if (len > text.size()) return 1;
  for (std::size_t k = 1; k < len; ++k) {
    // A sequence cut short or broken counts its lead byte as one character.
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

}  // namespace glimmora
