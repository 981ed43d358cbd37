#include "inventory/makers/maker_names.h"

namespace glimmora {

std::string DefaultPnpIdsPath() {
  return "/usr/share/hwdata/pnp.ids";
}

}  // namespace glimmora
