// glimmora edid FILE...: decodes EDID dumps, as hex text or raw bytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "inventory/edid.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// Pairs of hex digits, white space between them ignored. False when the text
// holds anything else or an odd digit is left over.
bool ParseHex(const std::string& text, std::vector<std::uint8_t>* bytes) {
  std::vector<std::uint8_t> out;
  int pending = -1;
  for (char c : text) {
    if (IsBlank(c)) continue;
    if (!IsHexDigit(c)) return false;
    if (pending < 0) {
      pending = HexValue(c);
    } else {
      out.push_back(static_cast<std::uint8_t>(pending * 16 + HexValue(c)));
      pending = -1;
    }
  }
  if (pending >= 0) return false;
  *bytes = std::move(out);
  return true;
}

// The dump layout of the EDID corpus: the hex lines after "EDID (hex):" up to
// the first empty line.
bool ExtractLabelledHex(const std::string& text, std::string* hex) {
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!inside) {
      if (line.rfind("EDID (hex):", 0) == 0) inside = true;
      continue;
    }
    bool empty = true;
    for (char c : line) empty = empty && IsBlank(c);
    if (empty) {
      if (!hex->empty()) break;
      continue;
    }
    *hex += line;
    *hex += '\n';
  }
  return inside;
}

std::vector<std::uint8_t> BlockFromFileContents(const std::string& contents) {
  std::vector<std::uint8_t> bytes;
  std::string hex;
  if (ExtractLabelledHex(contents, &hex) && ParseHex(hex, &bytes)) return bytes;
  if (ParseHex(contents, &bytes)) return bytes;
  return std::vector<std::uint8_t>(contents.begin(), contents.end());
}

void PrintField(int labelId, const std::string& value) {
  std::printf("%s: %s\n", LoadText(labelId).c_str(), value.c_str());
}

}  // namespace

int RunEdidCommand(const Arguments& args) {
  if (args.empty()) {
    std::fputs("usage: glimmora edid FILE...\n", stderr);
    return kExitUsage;
  }
  int status = 0;
  bool first = true;
  for (const std::string& path : args) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "glimmora: %s: %s\n", path.c_str(), std::strerror(errno));
      status = 1;
      continue;
    }
    const std::string contents((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    if (file.bad()) {
      std::fprintf(stderr, "glimmora: %s: read error\n", path.c_str());
      status = 1;
      continue;
    }
    const EdidFields fields = DecodeEdid(BlockFromFileContents(contents));
    if (args.size() > 1) {
      if (!first) std::fputs("\n", stdout);
      std::printf("%s:\n", path.c_str());
    }
    first = false;
    PrintField(kTextColumnModel, fields.model);
    PrintField(kTextColumnSerialNumber, fields.serialNumber);
    PrintField(kTextColumnMonitorSize, fields.monitorSize);
    PrintField(kTextColumnMfgDate, fields.mfgDate);
    PrintField(kTextColumnEdidVersion, fields.edidVersion);
  }
  return status;
}

}  // namespace glimmora::cli
