// Result lines of fuzzer-chosen fields, whatever bytes they hold, read back by
// a reader that follows Python's csv module: every record must come back field
// for field, one record per line written.
//
// Input layout, repeated while bytes remain: a field count (0 to 15), then for
// each field a length byte and that many bytes (fewer where the input ends).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "batch/csv_line.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/python_csv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmora;
  std::size_t pos = 0;
  auto next = [&]() -> std::uint8_t { return pos < size ? data[pos++] : 0; };
  std::vector<std::vector<std::string>> written;
  std::string text;
  while (pos < size) {
    std::vector<std::string> fields(next() % 16);
    for (std::string& field : fields) {
      const std::size_t length = std::min<std::size_t>(next(), size - pos);
      field.assign(reinterpret_cast<const char*>(data + pos), length);
      pos += length;
    }
    const std::string line = CsvLine(fields);
    FUZZ_CHECK(line.ends_with("\r\n"));
    text += line;
    written.push_back(std::move(fields));
  }

  const auto records = fuzz::ReadCsvLikePython(text);
  FUZZ_CHECK(records.has_value());
  FUZZ_CHECK(records->size() == written.size());
  for (std::size_t i = 0; i < written.size(); ++i) FUZZ_CHECK((*records)[i] == written[i]);
  return 0;
}
