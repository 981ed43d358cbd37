// Off Windows the program's 8-bit text is UTF-8.
#include "common/ansi_text.h"
#include "common/utf8.h"

namespace glimmora {

std::size_t CharacterLength(std::string_view text) {
  if (text.empty()) return 1;
  // A sequence cut short or broken counts its lead byte as one character.
  const Utf8Sequence sequence = DecodeUtf8(text);
  return sequence.valid ? sequence.length : 1;
}

}  // namespace glimmora
