// On Windows the program's 8-bit text is in the ANSI code page.
#include <windows.h>

#include <climits>

#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

std::string AnsiFromWide(const wchar_t* text, std::size_t length) {
  if (length == 0 || length > INT_MAX) return {};
  const int size = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, size, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

std::string Utf8FromAnsi(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::string(text);
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return std::string(text);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), units);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string(text);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::string AnsiFromUtf16(std::string_view littleEndianBytes) {
  std::wstring wide(littleEndianBytes.size() / 2, L'\0');
  for (std::size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(littleEndianBytes[2 * i]) |
                                   (static_cast<unsigned char>(littleEndianBytes[2 * i + 1]) << 8));
  }
  return AnsiFromWide(wide.data(), wide.size());
}

std::string AnsiFromUtf8(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), units);
  return AnsiFromWide(wide.data(), wide.size());
}

}  // namespace glimmora
