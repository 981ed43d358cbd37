// Workstation lists of any bytes through ReadInputLine and
// ExtractWorkstationName, read the way the batch worker reads them: lines
// until the end indicator, a name from each. Multibyte characters cut in half,
// zero bytes, lone CRs, Ctrl-Z anywhere and byte-order marks included.
//
// The first byte, when the input has one, says after how many bytes of the
// rest the stream fails with a read error (255: never), so that a list
// breaking off part-way is read too.
#define _GNU_SOURCE 1  // fopencookie
#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "batch/input_list.h"
#include "common/ansi_text.h"
#include "fuzz/fuzz_check.h"
#include "inventory/ansi_conversion.h"

namespace glimmora {
namespace {

struct MemoryStream {
  std::string_view bytes;
  std::size_t position = 0;
  std::size_t failAt = std::string_view::npos;
};

ssize_t ReadMemory(void* cookie, char* buffer, std::size_t size) {
  auto* stream = static_cast<MemoryStream*>(cookie);
  if (stream->position >= stream->failAt) {
    errno = EIO;
    return -1;
  }
  const std::size_t limit = std::min(stream->bytes.size(), stream->failAt);
  const std::size_t count = std::min(size, limit - std::min(limit, stream->position));
  if (count > 0) std::memcpy(buffer, stream->bytes.data() + stream->position, count);
  stream->position += count;
  return static_cast<ssize_t>(count);
}

// The text a list's bytes hold: behind a UTF-16 byte-order mark its code
// units (an odd last byte dropped) as UTF-8, behind a UTF-8 mark the bytes
// after it, otherwise the bytes; each up to the first NUL, which fails the
// read (*nul).
std::string ListText(std::string_view bytes, bool* nul) {
  *nul = false;
  if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) {
    const bool bigEndian = bytes[0] == '\xFE';
    std::string units;  // little-endian
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const char low = bigEndian ? bytes[i + 1] : bytes[i];
      const char high = bigEndian ? bytes[i] : bytes[i + 1];
      if (low == '\0' && high == '\0') {
        *nul = true;
        break;
      }
      units += low;
      units += high;
    }
    return Utf8FromUtf16(units);
  }
  const std::string_view body = bytes.starts_with("\xEF\xBB\xBF") ? bytes.substr(3) : bytes;
  const std::size_t zero = body.find('\0');
  *nul = zero != std::string_view::npos;
  return std::string(body.substr(0, zero));
}

// The lines a text-mode stream gives for the text: the input ends at the
// first Ctrl-Z, CR LF reads as LF, and an input ending in LF has a last,
// empty line.
std::vector<std::string> ExpectedLines(std::string_view text) {
  text = text.substr(0, text.find('\x1a'));
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n')
      lines.emplace_back();
    else
      lines.back().push_back(text[i]);
  }
  return lines;
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

void CheckName(std::string_view line, const std::string& name) {
  if (name.empty()) return;
  FUZZ_CHECK(name.size() <= line.size());
  FUZZ_CHECK(IsAsciiLetterOrDigit(name.front()));
  FUZZ_CHECK(ToUpperAnsi(name) == name);
  // The name is the upper-cased start of the trimmed line, up to a delimiter.
  const std::string trimmed = TrimWhiteSpace(line);
  FUZZ_CHECK(ToUpperAnsi(trimmed).compare(0, name.size(), name) == 0);
  for (std::size_t pos = 0; pos < name.size(); pos += CharacterLength(name.substr(pos))) {
    if (CharacterLength(name.substr(pos)) == 1)
      FUZZ_CHECK(name[pos] != ' ' && name[pos] != ',' && name[pos] != '\t');
  }
  if (name.size() < trimmed.size()) {
    const char next = trimmed[name.size()];
    FUZZ_CHECK(next == ' ' || next == ',' || next == '\t');
  }
}

}  // namespace
}  // namespace glimmora

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmora;
  MemoryStream stream;
  if (size > 0) {
    stream.failAt = data[0] == 255 ? std::string_view::npos : data[0];
    stream.bytes = std::string_view(reinterpret_cast<const char*>(data + 1), size - 1);
  }
  cookie_io_functions_t functions{};
  functions.read = ReadMemory;
  std::FILE* file = fopencookie(&stream, "rb", functions);
  FUZZ_CHECK(file != nullptr);
  InputFile input{UniqueFile(file)};

  std::vector<std::string> lines;
  while (!input.AtEnd()) {
    FUZZ_CHECK(lines.size() <= stream.bytes.size() + 1);  // every line takes a byte, but one
    lines.push_back(ReadInputLine(input));
    CheckName(lines.back(), ExtractWorkstationName(lines.back()));
  }

  // The reader goes on to the end of the data, where the failing stream fails,
  // or to a NUL, which fails it too, unless a Ctrl-Z before that ends the input.
  const std::size_t readable = std::min(stream.bytes.size(), stream.failAt);
  const std::string_view delivered = stream.bytes.substr(0, readable);
  bool nul = false;
  const std::string text = ListText(delivered, &nul);
  const bool endedEarly = text.find('\x1a') != std::string::npos;
  FUZZ_CHECK(input.ReadFailed() == ((nul || stream.failAt <= stream.bytes.size()) && !endedEarly));
  if (!input.ReadFailed()) FUZZ_CHECK(lines == ExpectedLines(text));
  return 0;
}
