#pragma once
// Maker names for the three-letter manufacturer codes of EDID blocks: the PNP
// vendor ID list (hwdata's pnp.ids, read at run time) and, taking precedence,
// a short list of our own for monitor brands that list lacks or names by a
// registrant users do not recognise (kOwnMakerNames in maker_names.cpp).

#include <map>
#include <string>
#include <string_view>

namespace glimmora {

class MakerNames {
 public:
  // Only our own list.
  MakerNames() = default;

  // Adds the names of a pnp.ids file: one code a line, a tab, the name, in
  // UTF-8; blank lines and lines starting with '#' are skipped. False, with
  // *problem naming the file and the reason, when the file is missing,
  // unreadable or malformed; then none of its names is taken.
  bool LoadPnpIds(const std::string& path, std::string* problem);

  // The maker's name in the program's 8-bit text, or the code itself when
  // neither list knows it.
  std::string NameFor(std::string_view code) const;
  // Whether either list has a name for the code.
  bool HasName(std::string_view code) const;

 private:
  std::map<std::string, std::string, std::less<>> listed_;
};

// Where pnp.ids is looked for when no file is named: Debian's hwdata on
// Linux, a pnp.ids beside the program on Windows.
std::string DefaultPnpIdsPath();

}  // namespace glimmora
