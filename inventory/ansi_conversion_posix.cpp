// Off Windows the program's 8-bit text is UTF-8.
#include "inventory/ansi_conversion.h"

namespace glimmora {

std::string AnsiFromUtf8(std::string_view text) {
  return std::string(text);
}

std::string Utf8FromAnsi(std::string_view text) {
  return std::string(text);
}

std::string AnsiFromUtf16(std::string_view littleEndianBytes) {
  return Utf8FromUtf16(littleEndianBytes);
}

}  // namespace glimmora
