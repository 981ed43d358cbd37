#include "batch/csv_line.h"

namespace glimmora {
namespace {

bool NeedsQuotes(std::string_view field) {
  return field.find_first_of(",\r\n") != std::string_view::npos ||
         (!field.empty() && field[0] == '"');
}

// The bytes the field takes in a line, so a line is allocated once: a field
// may be as long as the input line it came from.
std::size_t FieldSize(std::string_view field) {
  if (!NeedsQuotes(field)) return field.size();
  std::size_t size = field.size() + 2;
  for (char c : field) size += c == '"' ? 1 : 0;
  return size;
}

void AppendField(std::string& out, std::string_view field) {
  if (!NeedsQuotes(field)) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

template <typename Fields>
std::string JoinFields(const Fields& fields) {
  // A bare line end reads back as a record of no fields, so a record of one
  // empty field must show its field.
  if (fields.size() == 1 && std::string_view(fields[0]).empty()) return "\"\"\r\n";
  std::size_t size = fields.size() + 2;
  for (std::string_view field : fields) size += FieldSize(field);
  std::string line;
  line.reserve(size);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line.push_back(',');
    AppendField(line, fields[i]);
  }
  line += "\r\n";
  return line;
}

}  // namespace

std::string CsvField(std::string_view field) {
  std::string out;
  out.reserve(FieldSize(field));
  AppendField(out, field);
  return out;
}

std::string CsvLine(const std::vector<std::string>& fields) {
  return JoinFields(fields);
}

std::string CsvLineFromViews(std::span<const std::string_view> fields) {
  return JoinFields(fields);
}

}  // namespace glimmora
