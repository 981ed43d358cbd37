#pragma once
// Text of the system's ANSI code page, as the whole program's logic keeps it:
// Shift-JIS (or another double-byte code page) on a Japanese Windows, UTF-8
// elsewhere. A multibyte character is always stepped over and compared whole.

#include <cstddef>
#include <string>
#include <string_view>

namespace glimmora {

// Length in bytes of the character that starts at text[0] (1 for ASCII, 2 for
// a double-byte character, up to 4 for UTF-8); never more than text.size(),
// and 1 for an empty view, a stray or cut-off byte.
std::size_t CharacterLength(std::string_view text);

// Negative, zero or positive by the first character that differs, ASCII letters
// compared without regard to case, a text that is a beginning of the other being
// the smaller. Multibyte characters compare byte for byte as whole characters.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return CompareNoCase(a, b) == 0;
}

// The white space the trimming rules remove: space, tab, LF, VT, FF, CR.
bool IsTrimSpace(char c);
// Removes that white space from both ends (never from inside a multibyte character).
std::string TrimWhiteSpace(std::string_view text);

// Upper-cases ASCII letters; multibyte characters stay as they are.
std::string ToUpperAnsi(std::string_view text);

}  // namespace glimmora
