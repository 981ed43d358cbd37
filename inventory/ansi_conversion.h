#pragma once
// Text of registry exports turned into the program's 8-bit text (the ANSI code
// page), as RegQueryValueExA would give it.

#include <string>
#include <string_view>

namespace glimmora {

// UTF-8 to the ANSI code page. Off Windows the program's text is UTF-8, so the
// text comes back as it is; on Windows a character the code page lacks becomes
// its best fit or '?', as the registry's own conversion does.
std::string AnsiFromUtf8(std::string_view text);

// UTF-16LE bytes to the ANSI code page; an odd last byte is dropped and a lone
// surrogate becomes U+FFFD.
std::string AnsiFromUtf16(std::string_view littleEndianBytes);

// The program's 8-bit text to UTF-8, for outputs that must be UTF-8 (JSON).
// Off Windows the text comes back as it is (a byte that is no UTF-8 stays for
// the writer to replace).
std::string Utf8FromAnsi(std::string_view text);

// UTF-16LE bytes to UTF-8, with the same rules; the same on every platform.
std::string Utf8FromUtf16(std::string_view littleEndianBytes);

// The text with each part that is no UTF-8 replaced by U+FFFD: one for every
// longest run that begins a sequence but does not finish it, one for any other
// stray byte (as JSON writers and browsers do). Valid UTF-8 comes back as it is.
std::string ValidUtf8(std::string_view text);

}  // namespace glimmora
