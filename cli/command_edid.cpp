// glimmora edid FILE...: decodes EDID dumps, as hex text or raw bytes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "common/unique_handle.h"
#include "inventory/edid.h"
#include "inventory/edid_dump.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

struct FileTraits {
  using Handle = std::FILE*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { std::fclose(h); }
};
using UniqueFile = UniqueHandle<FileTraits>;

// The whole file, or -1 and the system's reason (a directory fails here too:
// it opens on POSIX but cannot be read).
int ReadWholeFile(const std::string& path, std::string* contents, std::string* errorText) {
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *errorText = std::strerror(errno);
    return -1;
  }
  std::string data;
  char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) data.append(chunk, got);
  if (std::ferror(file.get())) {
    *errorText = std::strerror(errno);
    return -1;
  }
  *contents = std::move(data);
  return 0;
}

void PrintField(int labelId, const std::string& value) {
  std::printf("%s: %s\n", LoadText(labelId).c_str(), value.c_str());
}

}  // namespace

int RunEdidCommand(const Arguments& arguments) {
  constexpr char kUsage[] = "usage: glimmora edid [--] FILE...\n";
  // This command takes no options. One given anyway is refused before any
  // file is read: the next argument may be the password of a misplaced -U,
  // which must not come back in a "cannot open" message.
  Arguments args;
  bool options = true;
  for (const std::string& arg : arguments) {
    if (options && arg == "--") {
      options = false;
    } else if (options && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "glimmora edid: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return kExitUsage;
    } else {
      args.push_back(arg);
    }
  }
  if (args.empty()) {
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }
  int status = 0;
  bool first = true;
  for (const std::string& path : args) {
    std::string contents;
    std::string errorText;
    std::vector<std::uint8_t> block;
    if (ReadWholeFile(path, &contents, &errorText) != 0 ||
        ParseEdidDump(contents, &block, &errorText) != 0) {
      std::fprintf(stderr, "glimmora: %s: %s\n", path.c_str(), errorText.c_str());
      status = 1;
      continue;
    }
    const EdidFields fields = DecodeEdid(block);
    if (args.size() > 1) {
      if (!first) std::fputs("\n", stdout);
      std::printf("%s:\n", path.c_str());
    }
    first = false;
    PrintField(kTextColumnModel, fields.model);
    PrintField(kTextColumnSerialNumber, fields.serialNumber);
    PrintField(kTextColumnMonitorSize, fields.monitorSize);
    PrintField(kTextColumnMfgDate, fields.mfgDate);
    PrintField(kTextColumnEdidVersion, fields.edidVersion);
  }
  // A full disk or a closed pipe must not pass for a decoded dump.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "glimmora: standard output: %s\n", std::strerror(errno));
    return kExitOutputError;
  }
  return status;
}

}  // namespace glimmora::cli
