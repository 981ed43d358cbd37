#pragma once
// Registries read from export files: the HKEY_LOCAL_MACHINE of workstation W is
// the file "W.reg" in one directory, as `reg export` or the registry editor
// wrote it. Each connect reads and parses the file anew into a tree that lives
// as long as a key of it is open.

#include <string>
#include <string_view>

#include "inventory/registry/registry_tree.h"

namespace glimmora {

// Whether the name can stand for a file "<name>.reg" inside the directory and
// nowhere else: not empty, no path separator, no "..", no control character,
// none of < > : " | ? *, not a device name (CON, NUL, COM1...), and short
// enough for a file name.
bool IsExportFileName(std::string_view workstation);

// Connect failures: kErrorBadNetPath (53) when there is no file for the name,
// kErrorInvalidName (123) when the name cannot be a file name in the directory,
// kErrorBadDatabase (1009) when the file is not a registry export, and the
// codes of ReadExportFile (export_file.h) when it cannot be read.
class OfflineRegistry : public TreeRegistry {
 public:
  explicit OfflineRegistry(std::string directory);

  std::string SystemMessageText(long code) override;
  // An export holds the volatile keys only when it was made on the running workstation.
  bool MayLackVolatileKeys() const override { return true; }

 protected:
  // A failure's diagnostic names the file and the reason, e.g.
  // "dir/PC1.reg line 7: a string without its closing quote".
  long ConnectTree(const std::string& machineName, std::shared_ptr<const RegistryNode>* root,
                   std::string* diagnostic) override;

 private:
  std::string directory_;
};

}  // namespace glimmora
