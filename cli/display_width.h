#pragma once
// How many terminal columns a text takes.

#include <cstddef>
#include <string>
#include <string_view>

namespace glimmora::cli {

// Columns of the text on a terminal: East Asian wide and fullwidth characters
// take two, as does any double-byte character of a code page such as Shift-JIS;
// everything else one.
std::size_t DisplayWidth(std::string_view text);

// The text with every control character (C0, DEL, and C1 when it is encoded as
// UTF-8) replaced by '?', so that data from a workstation cannot move the
// cursor or send commands to the terminal.
std::string PrintableText(std::string_view text);

// The printable text of at most the first `maxBytes` bytes, cut between
// characters and followed by "..." where it was cut.
std::string ShortPrintableText(std::string_view text, std::size_t maxBytes);

}  // namespace glimmora::cli
