#include <cstdlib>

#include "resources/texts.h"

namespace glimmora {

namespace {
struct TextEntry {
  int id;
  std::string_view english;
  std::string_view japanese;
};

constexpr TextEntry kTexts[] = {
#define GLIMMORA_TEXT(id, name, english, japanese) {id, english, japanese},
#include "resources/texts.def"
#undef GLIMMORA_TEXT
};
}  // namespace

std::string_view TableText(int id, Language language) {
  for (const TextEntry& entry : kTexts) {
    if (entry.id == id) return language == Language::kJapanese ? entry.japanese : entry.english;
  }
  return {};
}

Language LanguageFromLocaleName(std::string_view locale) {
  return locale.substr(0, 2) == "ja" ? Language::kJapanese : Language::kEnglish;
}

Language LanguageFromEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return LanguageFromLocaleName(value);
  }
  return Language::kEnglish;
}

}  // namespace glimmora
