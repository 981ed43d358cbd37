#include "batch/csv_line.h"

namespace glimmora {

std::string CsvField(std::string_view field) {
  const bool quoted =
      field.find_first_of(",\r\n") != std::string_view::npos || (!field.empty() && field[0] == '"');
  if (!quoted) return std::string(field);
  std::string out;
  out.reserve(field.size() + 2);
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  // A bare line end reads back as a record of no fields, so a record of one
  // empty field must show its field.
  if (fields.size() == 1 && fields[0].empty()) return "\"\"\r\n";
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back(',');
    line += CsvField(fields[i]);
  }
  line += "\r\n";
  return line;
}

}  // namespace glimmora
