// Off Windows the program's text already is UTF-8.
#include "batch/output_encoding.h"

namespace glimmora {

std::string Utf8FromAnsi(std::string_view text) {
  return std::string(text);
}

}  // namespace glimmora
