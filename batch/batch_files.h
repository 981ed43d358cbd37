#pragma once
// The two files of a batch: the input names one workstation a line, the result
// is comma-separated with a header line, then monitor, failure and no-monitor
// lines. Both are read and written byte for byte the same on every platform:
// the input with the line rules of a Windows text file, the result with CR LF
// line ends.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "common/unique_handle.h"
#include "inventory/monitor_table.h"

namespace glimmora {

struct StdioFileTraits {
  using Handle = std::FILE*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle file) noexcept { std::fclose(file); }
};
using UniqueFile = UniqueHandle<StdioFileTraits>;

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

// Where result lines go. The real file is OutputFile; tests put a stream in
// between that accepts fewer bytes, to make a write fail where they want it.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Hands the bytes over; gives how many were accepted.
  virtual std::size_t Write(std::string_view bytes) = 0;
  // Writes out whatever is still buffered and closes; false when bytes that
  // were accepted could not reach the file.
  virtual bool Close() = 0;
  // The system's reason for the last write or close that failed; empty when
  // there is none to give.
  virtual std::string FailureReason() const { return {}; }
};

// The result file itself, unbuffered: each Write goes to the system at once,
// so what a batch has written is on disk whatever ends the program later, and
// a workstation's lines handed over in one Write never reach it in part
// (short of a full disk). The file stays locked against other writers until
// it is closed.
class OutputFile : public OutputStream {
 public:
  // The platform's handle: a file descriptor, or a Windows file handle.
  explicit OutputFile(std::intptr_t handle) noexcept : handle_(handle) {}
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  std::size_t Write(std::string_view bytes) override;
  bool Close() override;
  std::string FailureReason() const override { return failureReason_; }

 private:
  std::intptr_t handle_;
  std::string failureReason_;
};

// Null when the file cannot be opened for reading, or its start cannot be read
// as a list (a directory, a file the system refuses to read, a NUL at its
// start), with *reason saying why when it is given.
std::unique_ptr<InputFile> OpenInputFile(const std::string& path, std::string* reason = nullptr);
// Creates or truncates the file, locked so that no other batch writes it at
// the same time; null when that is not possible, with *reason (when given)
// saying why. A file another batch holds is refused before it is truncated,
// so its content stays as that batch writes it.
std::unique_ptr<OutputStream> OpenOutputFile(const std::string& path,
                                             std::string* reason = nullptr);
// The same for going on with the file: its first keptBytes stay, and what is
// written goes after them.
std::unique_ptr<OutputStream> OpenOutputFileKeeping(const std::string& path,
                                                    std::uint64_t keptBytes,
                                                    std::string* reason = nullptr);
// The reason OpenOutputFile gives for a file another program holds locked.
inline constexpr std::string_view kOutputFileInUse = "in use by another batch";

// The system's text for an errno value from opening `path`; a directory is
// said to be one (Windows refuses to open one as "permission denied").
std::string FileErrorReason(const std::string& path, int error);

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

// The result lines, line end included. A field that holds a comma, CR or LF,
// or that begins with a double quote, is quoted; every other field is written
// as it is.
std::string FormatHeaderLine();
std::string FormatMonitorLine(std::string_view workstation, std::string_view monitorId,
                              const MonitorRow& row);
std::string FormatFailureLine(std::string_view workstation, std::string_view note);
std::string FormatNoMonitorLine(std::string_view workstation);

// 0 when every byte of the line was accepted in one write, -1 otherwise; the
// bytes accepted stay in the file.
int WriteOutputLine(OutputStream& output, std::string_view line);
int WriteHeaderLine(OutputStream& output);

}  // namespace glimmora
