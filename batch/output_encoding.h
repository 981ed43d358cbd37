#pragma once
// How the result file holds its text. The program's text is in the system's
// ANSI code page (UTF-8 off Windows); a spreadsheet made elsewhere may want
// UTF-8, and Excel reads UTF-8 only when the file starts with a byte-order mark.

#include <memory>
#include <string>
#include <string_view>

#include "batch/output_file.h"

namespace glimmora {

enum class OutputEncoding {
  kAnsi,     // as the program holds it: the ANSI code page on Windows, UTF-8 elsewhere
  kUtf8,     // UTF-8
  kUtf8Bom,  // UTF-8 after the byte-order mark EF BB BF
};

// "ansi", "utf-8" or "utf-8-bom"; false for anything else.
bool ParseOutputEncoding(std::string_view name, OutputEncoding* encoding);

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The text as a file of that encoding holds it, without a byte-order mark;
// in UTF-8, what does not convert is U+FFFD.
std::string EncodeText(OutputEncoding encoding, std::string_view text);
// What a file of that encoding starts with: the mark, or nothing.
std::string_view EncodingStart(OutputEncoding encoding);

// A stream that hands its text on in the encoding; with `atStart`, the first
// write puts the byte-order mark in front (a file begun afresh). A write
// counts as accepted only when every byte of its encoded form was; a failure's
// reason is the stream's it hands on to.
std::unique_ptr<OutputStream> EncodingOutput(std::unique_ptr<OutputStream> output,
                                             OutputEncoding encoding, bool atStart);

}  // namespace glimmora
