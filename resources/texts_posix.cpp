// Off Windows the texts come from the compiled table, in UTF-8.
#include "resources/texts.h"

namespace glimmora {

std::string LoadText(int id) {
  return std::string(TableText(id, LanguageFromEnvironment()));
}

}  // namespace glimmora
