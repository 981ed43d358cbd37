#pragma once
// The numbered user-interface texts and the choice between English and Japanese.

#include <string>
#include <string_view>

namespace glimmora {

enum TextId : int {
#define GLIMMORA_TEXT(id, name, english, japanese) name = id,
#include "resources/texts.def"
#undef GLIMMORA_TEXT
};

constexpr int kFirstTextId = 1001;
constexpr int kLastTextId = 1046;

enum class Language { kEnglish, kJapanese };

// The text of an id in the user's language, in the ANSI code page of the calling
// thread (on Windows from the program's resources, elsewhere UTF-8 from the
// compiled table). An unknown id gives an empty text.
std::string LoadText(int id);

// The compiled table itself, UTF-8, on every platform; empty for an unknown id.
std::string_view TableText(int id, Language language);

// The language that a locale setting asks for: a value beginning with "ja"
// means Japanese, anything else (and nothing) English.
Language LanguageFromLocaleName(std::string_view locale);
// Off Windows the user's language: the first of LC_ALL, LC_MESSAGES and LANG
// that is set and not empty decides.
Language LanguageFromEnvironment();

}  // namespace glimmora
