#pragma once
// The batch's input: one workstation a line, read byte for byte the same on
// every platform, with the line rules of a Windows text file.

#include <memory>
#include <string>
#include <string_view>

#include "batch/stdio_file.h"

namespace glimmora {

// A workstation list read one byte at a time, with the rules of a text-mode
// stream on Windows: CR LF reads as LF, any other CR stays, and Ctrl-Z (0x1A)
// ends the input as if the file ended there. The rules apply to the list's
// text, not to its encoding: a list that begins with a byte-order mark (UTF-16
// LE or BE, as Notepad saves "Unicode" and PowerShell's > writes, or UTF-8) is
// read as the program's 8-bit text, the ANSI code page on Windows and UTF-8
// elsewhere. A NUL is no text: reading fails where one is met.
class InputFile {
 public:
  // Reads what tells a byte-order mark (up to three bytes). A file whose very
  // first read fails, or that starts with a NUL without a mark (UTF-16 that
  // lost its mark), has failed at once.
  explicit InputFile(UniqueFile file);

  // False at the end of the input (the end indicator is then set).
  bool ReadByte(char* byte);
  // The end indicator: set once a read has met the end, or a CR has looked
  // ahead and found the end behind it.
  bool AtEnd() const { return atEnd_; }
  // Whether the end was a failure (a read error, a NUL) rather than the end
  // of the file.
  bool ReadFailed() const { return readFailed_; }
  // Why, for a message: the system's reason, or that the list holds NUL bytes.
  const std::string& FailureReason() const { return failureReason_; }

 private:
  enum class Encoding { kBytes, kUtf8, kUtf16Le, kUtf16Be };

  int NextFileByte();
  bool DecodeMore();
  int NextTextByte();
  int NextRawByte();
  void Fail(std::string reason);

  UniqueFile file_;
  Encoding encoding_ = Encoding::kBytes;
  std::string peeked_;  // read while looking for the mark, not yet taken
  std::string text_;    // decoded, not yet taken
  std::size_t textPosition_ = 0;
  int pushedBack_ = -1;     // a byte a CR looked ahead at
  bool fileEnded_ = false;  // the file gave its end (or an error)
  std::string fileError_;   // the system's reason when that end was an error
  bool nulAhead_ = false;   // decoding stopped at a NUL, behind the text decoded
  bool atEnd_ = false;
  bool readFailed_ = false;
  std::string failureReason_;
};

// Null when the file cannot be opened for reading, or its start cannot be read
// as a list (a directory, a file the system refuses to read, a NUL at its
// start), with *reason saying why when it is given.
std::unique_ptr<InputFile> OpenInputFile(const std::string& path, std::string* reason = nullptr);
// One line without its LF; empty at the end of the input, and when the input
// failed inside the line (the line is not whole). The caller tests AtEnd()
// after each line, so a last line without a line end is still read.
std::string ReadInputLine(InputFile& input);
// Whether what ReadInputLine gave is no line but the end of the input: nothing
// was read. An empty line still ended in its LF.
inline bool IsEndOfInput(const std::string& line, const InputFile& input) {
  return line.empty() && input.AtEnd();
}

// The workstation a line names, upper case; empty when the line is to be
// ignored (blank, or not starting with an ASCII letter or digit). The name ends
// before the first space, comma or tab.
std::string ExtractWorkstationName(std::string_view line);

}  // namespace glimmora
