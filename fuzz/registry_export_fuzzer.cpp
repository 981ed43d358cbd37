// Registry export files of any content, in both encodings, through the offline
// registry's parser, and the display scan over whatever tree a file makes.
//
// The first byte chooses how the rest becomes the file, so that the fuzzer can
// work on the text of a Unicode export without having to learn UTF-16:
//   0: the rest is the file as it is;
//   1: the rest is UTF-8 text, written as UTF-16LE with a byte order mark;
//   2: "REGEDIT4" and a line end, then the rest as 8-bit text;
//   3: "Windows Registry Editor Version 5.00" and a line end, then the rest,
//      all written as UTF-16LE with a byte order mark.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "inventory/monitor_table.h"
#include "inventory/offline/registry_export.h"
#include "inventory/registry/registry_scan.h"
#include "inventory/registry/registry_tree.h"

namespace glimmora {
namespace {

// The registry of one workstation whose HKEY_LOCAL_MACHINE is a parsed tree.
class ParsedTreeRegistry : public TreeRegistry {
 public:
  explicit ParsedTreeRegistry(std::shared_ptr<const RegistryNode> root) : root_(std::move(root)) {}
  std::string SystemMessageText(long /*code*/) override { return "message"; }

 protected:
  long ConnectTree(const std::string& /*machineName*/, std::shared_ptr<const RegistryNode>* root,
                   std::string* /*diagnostic*/) override {
    *root = root_;
    return kErrorSuccess;
  }

 private:
  std::shared_ptr<const RegistryNode> root_;
};

void AppendUtf16(std::uint32_t unit, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// UTF-8 to UTF-16LE; a byte that starts no valid sequence becomes the code
// unit of the same value, so that every input makes some file.
std::vector<std::uint8_t> Utf16WithBom(std::string_view text) {
  std::vector<std::uint8_t> out = {0xFF, 0xFE};
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 0;
    std::uint32_t codePoint = lead;
    bool valid = length > 0 && pos + length <= text.size();
    if (valid && length > 1) {
      codePoint = lead & (0x3F >> (length - 1));
      for (std::size_t k = 1; k < length && valid; ++k) {
        const auto trail = static_cast<unsigned char>(text[pos + k]);
        valid = (trail & 0xC0) == 0x80;
        codePoint = (codePoint << 6) | (trail & 0x3F);
      }
      valid = valid && codePoint <= 0x10FFFF;
    }
    if (!valid) {
      codePoint = lead;
      length = 1;
    }
    if (codePoint >= 0x10000) {
      codePoint -= 0x10000;
      AppendUtf16(0xD800 + (codePoint >> 10), out);
      AppendUtf16(0xDC00 + (codePoint & 0x3FF), out);
    } else {
      AppendUtf16(codePoint, out);
    }
    pos += length;
  }
  return out;
}

std::vector<std::uint8_t> MakeFile(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return {};
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 4) {
    case 1:
      return Utf16WithBom(rest);
    case 2: {
      const std::string text = "REGEDIT4\r\n" + std::string(rest);
      return std::vector<std::uint8_t>(text.begin(), text.end());
    }
    case 3:
      return Utf16WithBom("Windows Registry Editor Version 5.00\r\n" + std::string(rest));
    default:
      return std::vector<std::uint8_t>(rest.begin(), rest.end());
  }
}

// The registry's own limits hold for whatever tree a file makes.
void CheckTree(const RegistryNode& node, std::size_t depth) {
  FUZZ_CHECK(depth <= kMaxExportKeyDepth);
  for (std::size_t i = 0; i < node.SubkeyCount(); ++i) {
    const RegistryNode& subkey = node.SubkeyAt(i);
    FUZZ_CHECK(!subkey.name().empty());
    FUZZ_CHECK(subkey.name().find('\\') == std::string::npos);
    FUZZ_CHECK(node.FindSubkey(subkey.name()) == &subkey);
    CheckTree(subkey, depth + 1);
  }
}

// ConnectRemoteRegistry and ScanDisplayMonitors over the tree, as Quick Check
// and the batch run them: the nine columns stay equal in length and every key
// opened is closed again.
void ScanTree(std::shared_ptr<const RegistryNode> root) {
  ParsedTreeRegistry registry(root);
  RegKey remoteRoot = kNoKey;
  std::vector<std::string> deviceIds;
  std::string errorText;
  if (ConnectRemoteRegistry(registry, "FUZZ", &remoteRoot, &deviceIds, &errorText) != 0) {
    FUZZ_CHECK(!errorText.empty());
    FUZZ_CHECK(registry.OpenKeyCount() == 0);
    return;
  }
  FUZZ_CHECK(registry.OpenKeyCount() == 1);
  MonitorTable table;
  for (const std::string& deviceId : deviceIds) {
    FUZZ_CHECK(!deviceId.empty() && deviceId.size() <= kMaxKeyNameLength);
    const int result = ScanDisplayMonitors(registry, remoteRoot, deviceId, table, &errorText);
    const std::size_t rows = table.deviceClass.size();
    for (const auto* column :
         {&table.description, &table.mfg, &table.hardwareId, &table.model, &table.serialNumber,
          &table.monitorSize, &table.mfgDate, &table.edidVersion})
      FUZZ_CHECK(column->size() == rows);
    if (result != 0) FUZZ_CHECK(rows == 0);
    FUZZ_CHECK(registry.OpenKeyCount() == 1);
  }
  registry.RegCloseKey(remoteRoot);
  FUZZ_CHECK(registry.OpenKeyCount() == 0);
}

}  // namespace
}  // namespace glimmora

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmora;
  const std::vector<std::uint8_t> file = MakeFile(data, size);
  auto root = std::make_shared<RegistryNode>("");
  RegistryExportError error;
  if (!ParseRegistryExport(file, *root, &error)) {
    FUZZ_CHECK(error.line >= 1);
    FUZZ_CHECK(!error.reason.empty());
    return 0;
  }
  CheckTree(*root, 0);
  ScanTree(std::move(root));
  return 0;
}
