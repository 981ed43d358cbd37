#include "inventory/offline/registry_offline.h"

#include "common/ansi_text.h"
#include "inventory/offline/export_file.h"
#include "inventory/offline/registry_export.h"
#include "inventory/system_messages.h"

namespace glimmora {

namespace {
constexpr std::size_t kMaxFileNameLength = 255;  // bytes, ".reg" included
}

bool IsExportFileName(std::string_view workstation) {
  if (workstation.empty() || workstation.size() + 4 > kMaxFileNameLength) return false;
  if (workstation.find("..") != std::string_view::npos) return false;
  for (char c : workstation) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
    if (std::string_view("/\\<>:\"|?*").find(c) != std::string_view::npos) return false;
  }
  // Windows opens the device, not a file, for these names whatever follows the dot.
  const std::string_view base = workstation.substr(0, workstation.find('.'));
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL"}) {
    if (EqualNoCase(TrimWhiteSpace(base), device)) return false;
  }
  if (base.size() == 4 &&
      (EqualNoCase(base.substr(0, 3), "COM") || EqualNoCase(base.substr(0, 3), "LPT")) &&
      base[3] >= '0' && base[3] <= '9')
    return false;
  return true;
}

OfflineRegistry::OfflineRegistry(std::string directory) : directory_(std::move(directory)) {}

std::string OfflineRegistry::SystemMessageText(long code) {
  return LocalSystemMessageText(code);
}

long OfflineRegistry::ConnectTree(const std::string& machineName,
                                  std::shared_ptr<const RegistryNode>* root,
                                  std::string* diagnostic) {
  const std::string shownDirectory = directory_.empty() ? "." : directory_;
  if (!IsExportFileName(machineName)) {
    *diagnostic = "no file name in " + shownDirectory + " can be made from it";
    return kErrorInvalidName;
  }
  ExportFile file;
  std::string reason;
  if (const long code = ReadExportFile(directory_, machineName, &file, &reason); code != 0) {
    *diagnostic = std::move(reason);
    return code;
  }
  auto tree = std::make_shared<RegistryNode>("");
  RegistryExportError error;
  if (!ParseRegistryExport(file.bytes, *tree, &error)) {
    *diagnostic = file.path + " line " + std::to_string(error.line) + ": " + error.reason;
    return kErrorBadDatabase;
  }
  *root = std::move(tree);
  return kErrorSuccess;
}

}  // namespace glimmora
