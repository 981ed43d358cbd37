#include "batch/run_record.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>

#include "batch/stdio_file.h"

namespace glimmora {

namespace {

constexpr std::string_view kRecordFirstLine = "glimmora-run 1";

std::string_view YesNo(bool value) {
  return value ? "yes" : "no";
}

}  // namespace

std::string RunRecordPath(const std::string& outputPath) {
  return outputPath + ".glimmora-run";
}

std::string FormatRunRecord(const RunRecord& record) {
  std::string text(kRecordFirstLine);
  text += "\ncolumns=" + record.columns;
  text += "\nformat=" + record.format;
  text += "\npresent-only=" + std::string(YesNo(record.presentOnly));
  text += "\npnp-ids=" + record.pnpIds;
  text += "\nencoding=" + record.encoding;
  text += "\ninput=" + record.input + "\n";
  return text;
}

std::optional<RunRecord> ParseRunRecord(std::string_view text) {
  RunRecord record;
  bool first = true;
  int seen = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // cut off
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (first) {
      if (line != kRecordFirstLine) return std::nullopt;
      first = false;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const std::string value(line.substr(equals + 1));
    if (key == "columns") {
      record.columns = value;
    } else if (key == "format") {
      record.format = value;
    } else if (key == "present-only") {
      record.presentOnly = value == "yes";
    } else if (key == "pnp-ids") {
      record.pnpIds = value;
    } else if (key == "encoding") {
      record.encoding = value;
    } else if (key == "input") {
      record.input = value;
    } else {
      continue;  // written by a later version: what it adds is not checked here
    }
    ++seen;
  }
  if (first || seen < 6) return std::nullopt;
  return record;
}

std::string RunRecordMismatch(const RunRecord& recorded, const RunRecord& now) {
  const auto differs = [](const char* option, const std::string& then, const std::string& here) {
    return "it was begun with " + std::string(option) + " " + then + ", this run has " + option +
           " " + here;
  };
  if (recorded.columns != now.columns) return differs("--columns", recorded.columns, now.columns);
  if (recorded.format != now.format) return differs("--format", recorded.format, now.format);
  if (recorded.presentOnly != now.presentOnly)
    return recorded.presentOnly ? "it was begun with --present-only, this run has not"
                                : "it was begun without --present-only, this run has it";
  if (recorded.pnpIds != now.pnpIds)
    return differs("--pnp-ids", recorded.pnpIds.empty() ? "(none)" : recorded.pnpIds,
                   now.pnpIds.empty() ? "(none)" : now.pnpIds);
  if (recorded.encoding != now.encoding)
    return differs("--encoding", recorded.encoding, now.encoding);
  // A run begun from standard input left no identity to check.
  if (!recorded.input.empty() && recorded.input != now.input)
    return "INPUT is not the list it was begun with (" + recorded.input + ", now " + now.input +
           ")";
  return {};
}

bool ListIdentity(const std::string& path, std::string* identity, std::string* reason) {
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *reason = FileErrorReason(path, errno);
    return false;
  }
  std::uint64_t digest = 0xcbf29ce484222325ull;
  std::uint64_t size = 0;
  char buffer[64 * 1024];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    for (std::size_t i = 0; i < count; ++i) {
      digest ^= static_cast<unsigned char>(buffer[i]);
      digest *= 0x100000001b3ull;
    }
    size += count;
  }
  if (std::ferror(file.get()) != 0) {
    *reason = FileErrorReason(path, errno != 0 ? errno : EIO);
    return false;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%" PRIu64 " bytes, fnv1a64 %016" PRIx64, size, digest);
  *identity = text;
  return true;
}

}  // namespace glimmora
