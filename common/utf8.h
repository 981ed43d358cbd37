#pragma once
// The one UTF-8 reader of the program: what the text converters, the
// registry's UTF-16 names, the Linux code page and the terminal's widths all
// step through.

#include <cstddef>
#include <string_view>

namespace glimmora {

// The UTF-8 sequence at the start of a text that is not empty. A well-formed
// one (no overlong form, no surrogate, nothing past U+10FFFF) gives its code
// point and length. An ill-formed one gives valid false and the length of its
// longest beginning that could have been well formed, at least 1: the bytes
// one replacement character stands for.
struct Utf8Sequence {
  char32_t codePoint = 0;
  std::size_t length = 1;
  bool valid = false;
};
Utf8Sequence DecodeUtf8(std::string_view text);

}  // namespace glimmora
