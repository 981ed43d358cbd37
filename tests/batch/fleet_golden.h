#pragma once
// The reviewed inventory of the sample fleet, tests/data/fleet-golden.csv, in
// the terms of the system the tests run on.

#include <string>

#include "inventory/registry/registry_access.h"
#include "inventory/system_messages.h"
#include "tests/support/batch_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace glimmora::testing {

inline void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
}

// The file is UTF-8 and holds the English system message for the missing
// export. On Windows the program writes the ANSI code page, into which the
// registry texts are converted the same way, and the system's own message.
inline std::string ExpectedFleetInventory() {
  std::string text = ReadBytes(std::string(GLIMMORA_SOURCE_DIR) + "/tests/data/fleet-golden.csv");
#ifdef _WIN32
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), units);
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), units, ansi.data(), bytes, nullptr, nullptr);
  text = ansi;
#endif
  ReplaceAll(text, "Desc=The network path was not found.",
             "Desc=" + LocalSystemMessageText(kErrorBadNetPath));
  return text;
}

// A result file with the source directory taken out of the note that names
// the missing export, as when the batch is run from there.
inline std::string WithoutSourceDirectory(std::string written) {
  ReplaceAll(written, std::string(GLIMMORA_SOURCE_DIR) + "/", "");
  return written;
}

}  // namespace glimmora::testing
