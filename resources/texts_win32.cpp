// On Windows the resource loader picks the language version of each text by the
// user-interface language; the text is converted to the thread's ANSI code page.
#include <windows.h>

#include "resources/texts.h"

namespace glimmora {

std::string LoadText(int id) {
  const wchar_t* stored = nullptr;
  // With a zero buffer size LoadStringW hands out a pointer into the resource.
  const int length = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                 reinterpret_cast<LPWSTR>(&stored), 0);
  if (length <= 0 || stored == nullptr) return {};
  const int bytes =
      WideCharToMultiByte(CP_THREAD_ACP, 0, stored, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, stored, length, text.data(), bytes, nullptr, nullptr);
  return text;
}

}  // namespace glimmora
