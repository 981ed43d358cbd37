#include <windows.h>

#include "inventory/makers/maker_names.h"

namespace glimmora {

std::string DefaultPnpIdsPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "pnp.ids";
  std::string directory(path, length);
  const std::size_t slash = directory.find_last_of("\\/");
  directory.resize(slash == std::string::npos ? 0 : slash + 1);
  return directory + "pnp.ids";
}

}  // namespace glimmora
