#pragma once
// Reading a result file of glimmora batch back as an inventory, whichever of
// its formats it is: the specified CSV, the CSV with extended columns (with
// or without Monitor Key), or JSON lines.

#include <string>
#include <string_view>

#include "batch/inventory_diff.h"

namespace glimmora {

enum class InventoryFileKind {
  kSpecifiedCsv,  // keys from Monitor ID and Serial Number; presence unknown
  kExtendedCsv,   // keys as written, or from the codes and Inventory Serial
  kJsonLines,
};

// "the specified CSV", "the CSV with extended columns", "JSON lines".
std::string_view InventoryFileKindName(InventoryFileKind kind);

// The monitors and workstations of the file at `path` ("-": standard input),
// read a record at a time. False with *error (naming the file, the record's
// line where there is one, and what is wrong) for a file that cannot be read,
// is of no format of the batch, or holds a record of none.
bool ReadInventoryFile(const std::string& path, Inventory* inventory, InventoryFileKind* kind,
                       std::string* error);

// The same for the bytes of a file (tests, and files read whole).
bool ReadInventoryText(std::string_view text, std::string_view name, Inventory* inventory,
                       InventoryFileKind* kind, std::string* error);

}  // namespace glimmora
