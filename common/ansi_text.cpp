#include "common/ansi_text.h"

namespace glimmora {

namespace {
// Letters compare as lower case, as the system's case-insensitive comparison
// does: that places '_' and the other signs between Z and a before the letters.
char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
}  // namespace

int CompareNoCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::size_t la = CharacterLength(a.substr(i));
    const std::size_t lb = CharacterLength(b.substr(j));
    if (la == 1 && lb == 1) {
      const auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
      const auto cb = static_cast<unsigned char>(LowerAscii(b[j]));
      if (ca != cb) return ca < cb ? -1 : 1;
    } else {
      const int c = a.substr(i, la).compare(b.substr(j, lb));
      if (c != 0) return c < 0 ? -1 : 1;
    }
    i += la;
    j += lb;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool IsTrimSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string TrimWhiteSpace(std::string_view text) {
  // White space is ASCII and never a trail byte of UTF-8; in a double-byte code
  // page a trail byte can be 0x40 and above, so walk forward by characters.
  std::size_t begin = 0;
  while (begin < text.size() && IsTrimSpace(text[begin])) ++begin;
  std::size_t end = begin;
  std::size_t pos = begin;
  while (pos < text.size()) {
    const std::size_t len = CharacterLength(text.substr(pos));
    if (len != 1 || !IsTrimSpace(text[pos])) end = pos + len;
    pos += len;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string ToUpperAnsi(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t len = CharacterLength(text.substr(pos));
    if (len == 1)
      out.push_back(UpperAscii(text[pos]));
    else
      out.append(text.substr(pos, len));
    pos += len;
  }
  return out;
}

}  // namespace glimmora
