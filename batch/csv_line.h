#pragma once
// Comma-separated output lines, as the batch output file and the command line
// write them.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace glimmora {

// The field as it goes into a line: enclosed in double quotes, with each double
// quote inside doubled, when it holds a comma, a CR or an LF or begins with a
// double quote; otherwise exactly as it is.
std::string CsvField(std::string_view field);

// The fields joined by commas, ending in CR LF. A record of one empty field is
// written "" so that it does not read back as an empty line.
std::string CsvLine(const std::vector<std::string>& fields);
// The same over fields that are not copied first.
std::string CsvLineFromViews(std::span<const std::string_view> fields);

}  // namespace glimmora
