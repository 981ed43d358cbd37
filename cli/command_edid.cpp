// glimmora edid FILE...: decodes EDID dumps, as hex text or raw bytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "batch/stdio_file.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/display_width.h"
#include "cli/option_parser.h"
#include "inventory/edid/edid.h"
#include "inventory/edid/edid_dump.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

// The whole file, or -1 and the reason: the system's (a directory fails here
// too: it opens on POSIX but cannot be read), or that the file is larger than
// any dump (/dev/zero would otherwise fill the memory).
int ReadEdidDump(const std::string& path, std::string* contents, std::string* errorText) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *errorText = std::strerror(errno);
    return -1;
  }
  std::string data;
  char chunk[4096];
  std::size_t got = 0;
  while (data.size() <= kMaxEdidDumpSize &&
         (got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
    data.append(chunk, got);
  if (std::ferror(file.get())) {
    *errorText = std::strerror(errno);
    return -1;
  }
  if (data.size() > kMaxEdidDumpSize) {
    *errorText = "larger than " + std::to_string(kMaxEdidDumpSize >> 20) +
                 " MiB, more than an EDID dump holds";
    return -1;
  }
  *contents = std::move(data);
  return 0;
}

// A name descriptor can hold an escape sequence; a terminal would act on it.
// A file or a pipe gets the bytes the EDID holds.
std::string Shown(const std::string& text, bool terminal) {
  return terminal ? PrintableText(text) : text;
}

void PrintField(int labelId, const std::string& value, bool terminal) {
  std::printf("%s: %s\n", LoadText(labelId).c_str(), Shown(value, terminal).c_str());
}

}  // namespace

int RunEdidCommand(const Arguments& arguments) {
  constexpr char kUsage[] =
      "usage: glimmora edid [--] FILE...\n"
      "Decodes EDID dumps as the inventory does: model, serial number, size, date of\n"
      "manufacture and EDID version of each FILE. A dump is the block's raw bytes (a\n"
      "Linux sysfs edid file) or hex text of them, in any spacing or after a line\n"
      "\"EDID (hex):\"; on a terminal, control characters are shown as '?'.\n"
      "Exit status: 0 every file decoded, 1 a file could not be read, held malformed\n"
      "hex or no EDID header, 64 usage error, 74 standard output not written.\n";
  // This command takes no options. One given anyway is refused before any
  // file is read: the next argument may be the password of a misplaced -U,
  // which must not come back in a "cannot open" message.
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(arguments, {}, &parsed, &problem)) {
    std::fprintf(stderr, "glimmora edid: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
  }
  if (parsed.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const Arguments& args = parsed.operands;
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  const bool terminal = IsTerminal(stdout);
  int status = 0;
  bool first = true;
  for (const std::string& path : args) {
    std::string contents;
    std::string errorText;
    std::vector<std::uint8_t> block;
    if (ReadEdidDump(path, &contents, &errorText) != 0 ||
        ParseEdidDump(contents, &block, &errorText) != 0) {
      std::fprintf(stderr, "glimmora: %s: %s\n", path.c_str(), errorText.c_str());
      status = 1;
      continue;
    }
    // Decoded all the same (any block decodes), but a script must notice that
    // this is likely no EDID at all: text taken as bytes, a wrong file.
    if (!HasEdidHeader(block)) {
      std::fprintf(stderr,
                   "glimmora: %s: warning: no EDID header (00 FF FF FF FF FF FF 00) at the "
                   "start; decoded all the same\n",
                   path.c_str());
      status = 1;
    }
    const EdidFields fields = DecodeEdid(block);
    if (args.size() > 1) {
      if (!first) std::fputs("\n", stdout);
      std::printf("%s:\n", Shown(path, terminal).c_str());
    }
    first = false;
    PrintField(kTextColumnModel, fields.model, terminal);
    PrintField(kTextColumnSerialNumber, fields.serialNumber, terminal);
    PrintField(kTextColumnMonitorSize, fields.monitorSize, terminal);
    PrintField(kTextColumnMfgDate, fields.mfgDate, terminal);
    PrintField(kTextColumnEdidVersion, fields.edidVersion, terminal);
  }
  // A full disk or a closed pipe must not pass for a decoded dump.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "glimmora: standard output: %s\n", std::strerror(errno));
    return kExitOutputError;
  }
  return status;
}

}  // namespace glimmora::cli
