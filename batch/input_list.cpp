#include "batch/input_list.h"

#include <cerrno>

#include "common/ansi_text.h"
#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

constexpr int kCtrlZ = 0x1A;
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
// Characters decoded at a time from a marked list.
constexpr std::size_t kDecodePiece = 4096;
constexpr std::string_view kNulReason =
    "the list holds NUL bytes: it is not text, or UTF-16 without its byte-order mark";
constexpr std::string_view kNameDelimiters = " ,\t";

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

InputFile::InputFile(UniqueFile file) : file_(std::move(file)) {
  std::string start;
  while (start.size() < 3) {
    const int c = NextFileByte();
    if (c == EOF) break;
    start.push_back(static_cast<char>(c));
  }
  peeked_ = std::move(start);
  if (peeked_.starts_with(kUtf8Mark)) {
    encoding_ = Encoding::kUtf8;
    peeked_.erase(0, kUtf8Mark.size());
  } else if (peeked_.starts_with(kUtf16LeMark)) {
    encoding_ = Encoding::kUtf16Le;
    peeked_.erase(0, kUtf16LeMark.size());
  } else if (peeked_.starts_with(kUtf16BeMark)) {
    encoding_ = Encoding::kUtf16Be;
    peeked_.erase(0, kUtf16BeMark.size());
  }
  // A failure found now keeps the output untouched, as for a missing list: a
  // directory (some systems open one for reading; its first read fails), or
  // UTF-16 without its mark, whose first or second byte is a NUL. A failure
  // behind the bytes already read is met when they have been.
  if (peeked_.empty() && !fileError_.empty()) {
    Fail(fileError_);
  } else if (encoding_ == Encoding::kBytes) {
    const std::string_view start = std::string_view(peeked_).substr(0, 2);
    if (start.substr(0, start.find(static_cast<char>(kCtrlZ))).find('\0') != std::string::npos)
      Fail(std::string(kNulReason));
  }
}

void InputFile::Fail(std::string reason) {
  atEnd_ = true;
  readFailed_ = true;
  failureReason_ = std::move(reason);
}

int InputFile::NextFileByte() {
  if (!peeked_.empty()) {
    const int c = static_cast<unsigned char>(peeked_.front());
    peeked_.erase(0, 1);
    return c;
  }
  if (fileEnded_) return EOF;
  errno = 0;
  const int c = std::getc(file_.get());
  if (c != EOF) return c;
  fileEnded_ = true;
  if (std::ferror(file_.get()) != 0) fileError_ = FileErrorReason({}, errno != 0 ? errno : EIO);
  return EOF;
}

// The next piece of a marked file, up to a line end, a Ctrl-Z or a few
// thousand characters, turned into 8-bit text. False when nothing is left.
bool InputFile::DecodeMore() {
  text_.clear();
  textPosition_ = 0;
  if (nulAhead_) {
    Fail(std::string(kNulReason));
    return false;
  }
  if (encoding_ == Encoding::kUtf8) {
    std::string bytes;
    for (;;) {
      const int c = NextFileByte();
      if (c == EOF) break;
      if (c == 0) {
        nulAhead_ = true;
        break;
      }
      bytes.push_back(static_cast<char>(c));
      // A piece ends before a character begins, never inside one.
      if (c == '\n' || c == kCtrlZ || (bytes.size() >= kDecodePiece && c < 0x80)) break;
    }
    text_ = AnsiFromUtf8(bytes);
  } else {
    std::string units;  // UTF-16LE
    for (;;) {
      const int first = NextFileByte();
      if (first == EOF) break;
      const int second = NextFileByte();
      if (second == EOF) break;  // an odd last byte is no character
      const unsigned unit = encoding_ == Encoding::kUtf16Le
                                ? static_cast<unsigned>(first | (second << 8))
                                : static_cast<unsigned>(second | (first << 8));
      if (unit == 0) {
        nulAhead_ = true;
        break;
      }
      units.push_back(static_cast<char>(unit & 0xFF));
      units.push_back(static_cast<char>(unit >> 8));
      // A surrogate pair stays in one piece.
      const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
      if (unit == '\n' || unit == kCtrlZ || (units.size() >= 2 * kDecodePiece && !highSurrogate))
        break;
    }
    text_ = AnsiFromUtf16(units);
  }
  if (!text_.empty()) return true;
  if (nulAhead_)
    Fail(std::string(kNulReason));
  else if (!fileError_.empty())
    Fail(fileError_);
  return false;
}

int InputFile::NextTextByte() {
  if (encoding_ == Encoding::kBytes) {
    const int c = NextFileByte();
    if (c == 0) {
      Fail(std::string(kNulReason));
      return EOF;
    }
    if (c == EOF && !fileError_.empty()) Fail(fileError_);
    return c;
  }
  while (textPosition_ >= text_.size()) {
    if (!DecodeMore()) return EOF;
  }
  return static_cast<unsigned char>(text_[textPosition_++]);
}

int InputFile::NextRawByte() {
  if (pushedBack_ != EOF) {
    const int c = pushedBack_;
    pushedBack_ = EOF;
    return c;
  }
  const int c = NextTextByte();
  if (c == EOF || c == kCtrlZ) {
    atEnd_ = true;
    return EOF;
  }
  return c;
}

bool InputFile::ReadByte(char* byte) {
  if (atEnd_) return false;
  int c = NextRawByte();
  if (c == EOF) return false;
  if (c == '\r') {
    // Look ahead one byte: CR LF is one LF; a lone CR stays. A look-ahead that
    // meets the end leaves the end indicator set, as the text stream does.
    const int next = NextRawByte();
    if (next == '\n')
      c = '\n';
    else if (next != EOF)
      pushedBack_ = next;
  }
  *byte = static_cast<char>(c);
  return true;
}

std::unique_ptr<InputFile> OpenInputFile(const std::string& path, std::string* reason) {
  // Binary: the text rules are applied by InputFile itself, the same everywhere.
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    if (reason != nullptr) *reason = FileErrorReason(path, errno);
    return nullptr;
  }
  auto input = std::make_unique<InputFile>(std::move(file));
  if (input->ReadFailed()) {
    if (reason != nullptr) *reason = input->FailureReason();
    return nullptr;
  }
  return input;
}

std::string ReadInputLine(InputFile& input) {
  std::string line;
  char byte = 0;
  while (input.ReadByte(&byte)) {
    if (byte == '\n') break;
    line.push_back(byte);
    if (input.AtEnd()) break;
  }
  // A line a failure cut short may name another workstation than the list does.
  if (input.ReadFailed()) line.clear();
  return line;
}

std::string ExtractWorkstationName(std::string_view line) {
  std::string name = TrimWhiteSpace(line);
  if (name.empty()) return {};
  // Comments (#, ;, /), quoted names, \\names and non-ASCII starts drop out here.
  if (!IsAsciiLetterOrDigit(name[0])) return {};
  std::size_t pos = 0;
  while (pos < name.size()) {
    const std::size_t length = CharacterLength(std::string_view(name).substr(pos));
    if (length == 1 && kNameDelimiters.find(name[pos]) != std::string_view::npos) {
      name.resize(pos);
      break;
    }
    pos += length;
  }
  return ToUpperAnsi(name);
}

}  // namespace glimmora
