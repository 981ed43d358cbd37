// On Windows the system's own message table gives the text.
#include <windows.h>

#include "common/ansi_text.h"
#include "inventory/system_messages.h"

namespace glimmora {

namespace {
constexpr std::size_t kMaxMessageLength = 258;
}

std::string LocalSystemMessageText(long code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return {};
  const std::string raw(buffer, length);
  LocalFree(buffer);

  // One line: every run of line breaks becomes one blank, the final one goes.
  std::string text;
  bool pendingBreak = false;
  std::size_t pos = 0;
  while (pos < raw.size()) {
    const std::size_t len = CharacterLength(std::string_view(raw).substr(pos));
    if (len == 1 && (raw[pos] == '\r' || raw[pos] == '\n')) {
      pendingBreak = true;
      ++pos;
      continue;
    }
    if (pendingBreak && !text.empty() && text.back() != ' ') text.push_back(' ');
    pendingBreak = false;
    // A message longer than the field the texts are built in is cut between characters.
    if (text.size() + len > kMaxMessageLength) break;
    text.append(raw, pos, len);
    pos += len;
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace glimmora
