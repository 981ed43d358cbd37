#pragma once
// The texts Windows gives for the error codes that the registry back ends and
// the probe produce, for use where there is no FormatMessageA to ask.

#include <string>
#include <string_view>

#include "resources/texts.h"

namespace glimmora {

// The message Windows shows for `code` in the language, UTF-8, on one line;
// empty for a code the table does not hold.
std::string_view SystemMessageTableText(long code, Language language);

// This computer's text for `code`, in the program's 8-bit text, on one line and
// at most 258 characters; empty when there is none. On Windows it is the
// system's own message in the user's default language; elsewhere the table
// above in the language of the environment.
std::string LocalSystemMessageText(long code);

}  // namespace glimmora
