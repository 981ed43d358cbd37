// On Windows the program's 8-bit text is in the ANSI code page of the thread.
#include <windows.h>

#include "common/ansi_text.h"

namespace glimmora {

std::size_t CharacterLength(std::string_view text) {
  if (text.size() >= 2 && IsDBCSLeadByteEx(CP_THREAD_ACP, static_cast<BYTE>(text[0]))) return 2;
  return 1;
}

}  // namespace glimmora
