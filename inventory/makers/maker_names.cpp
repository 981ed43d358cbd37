#include "inventory/makers/maker_names.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

struct OwnMakerName {
  std::string_view code;
  std::string_view name;
};

// Codes of monitor and panel makers that Debian 12's pnp.ids lacks (AOC, BNQ,
// IVO, SDC, XMI) or lists under a registrant other than the brand on the
// monitor (ACI: "Ancor Communications Inc" on ASUS monitors; CPT: "cPATH" on
// Chunghwa panels; CSO, TCL, TMX, MSI likewise). Sorted by code.
constexpr OwnMakerName kOwnMakerNames[] = {
    {"ACI", "ASUS"},     {"AOC", "AOC"},
    {"BNQ", "BenQ"},     {"CPT", "Chunghwa Picture Tubes"},
    {"CSO", "TCL CSOT"}, {"IVO", "InfoVision Optoelectronics"},
    {"MSI", "MSI"},      {"SDC", "Samsung Display"},
    {"TCL", "TCL"},      {"TMX", "Tianma"},
    {"XMI", "Xiaomi"},
};

// A pnp.ids runs to about a hundred kilobytes; a file far larger is not one.
constexpr std::uintmax_t kMaxPnpIdsBytes = 16u << 20;

const OwnMakerName* FindOwn(std::string_view code) {
  const auto found = std::lower_bound(
      std::begin(kOwnMakerNames), std::end(kOwnMakerNames), code,
      [](const OwnMakerName& entry, std::string_view key) { return entry.code < key; });
  return found != std::end(kOwnMakerNames) && found->code == code ? found : nullptr;
}

// Codes are letters, but the list holds "VQ@" and "inu" too.
bool IsCodeCharacter(char c) {
  return c > ' ' && c < 0x7F;
}

}  // namespace

bool MakerNames::LoadPnpIds(const std::string& path, std::string* problem) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *problem = path + ": cannot be opened";
    return false;
  }
  std::string contents;
  char buffer[8192];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    contents.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (contents.size() > kMaxPnpIdsBytes) {
      *problem = path + ": too large for a PNP ID list";
      return false;
    }
  }
  if (in.bad()) {
    *problem = path + ": read error";
    return false;
  }

  std::map<std::string, std::string, std::less<>> names;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  while (start < contents.size()) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    std::string_view line(contents.data() + start, end - start);
    start = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    const bool wellFormed = line.size() > 4 && IsCodeCharacter(line[0]) &&
                            IsCodeCharacter(line[1]) && IsCodeCharacter(line[2]) &&
                            line[3] == '\t' &&
                            line.find_first_not_of(" \t", 4) != std::string_view::npos;
    if (!wellFormed) {
      *problem = path + " line " + std::to_string(lineNumber) +
                 ": not a PNP ID line (a three-letter code, a tab, a name)";
      return false;
    }
    names.emplace(std::string(line.substr(0, 3)), AnsiFromUtf8(line.substr(4)));
  }
  if (names.empty()) {
    *problem = path + ": no PNP ID in it";
    return false;
  }
  listed_.merge(names);
  return true;
}

std::string MakerNames::NameFor(std::string_view code) const {
  if (const OwnMakerName* own = FindOwn(code)) return std::string(own->name);
  if (const auto found = listed_.find(code); found != listed_.end()) return found->second;
  return std::string(code);
}

bool MakerNames::HasName(std::string_view code) const {
  return FindOwn(code) != nullptr || listed_.find(code) != listed_.end();
}

}  // namespace glimmora
