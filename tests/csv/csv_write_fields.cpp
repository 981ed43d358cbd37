// Test helper for csv_roundtrip.py: reads records from standard input and
// writes each as one CsvLine to standard output, so that Python's csv module
// can read back what the program's own writer made.
//
// Input, little-endian: per record a 32-bit field count, then per field a
// 32-bit length and that many bytes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "batch/csv_line.h"

namespace {

bool ReadCount(std::uint32_t* value) {
  unsigned char bytes[4];
  if (std::fread(bytes, 1, 4, stdin) != 4) return false;
  *value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
  return true;
}

}  // namespace

int main() {
  std::uint32_t count = 0;
  while (ReadCount(&count)) {
    std::vector<std::string> fields(count);
    for (std::string& field : fields) {
      std::uint32_t length = 0;
      if (!ReadCount(&length)) return 2;
      field.resize(length);
      if (length > 0 && std::fread(field.data(), 1, length, stdin) != length) return 2;
    }
    const std::string line = glimmora::CsvLine(fields);
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size()) return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
