// Off Windows there is no message table to ask: the texts come from ours, in
// the language the environment asks for (UTF-8, the program's 8-bit text here).
#include "inventory/system_messages.h"

namespace glimmora {

std::string LocalSystemMessageText(long code) {
  return std::string(SystemMessageTableText(code, LanguageFromEnvironment()));
}

}  // namespace glimmora
