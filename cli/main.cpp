// glimmora: the command-line front end. `glimmora COMMAND ARGS...`
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/commands.h"
#include "cli/credentials.h"

namespace {

struct Command {
  std::string_view name;
  int (*run)(const glimmora::cli::Arguments&);
  std::string_view synopsis;
};

constexpr Command kCommands[] = {
    {"edid", glimmora::cli::RunEdidCommand, "edid FILE...             decode EDID dumps"},
    {"ping", glimmora::cli::RunPingCommand, "ping WORKSTATION         ICMP echo to a workstation"},
    {"check", glimmora::cli::RunCheckCommand,
     "check [--offline DIR] [--sort N] [--descending] [--format table|csv|json]\n"
     "        [--columns specified|extended] [--present-only] [--pnp-ids FILE]\n"
     "        [--connect-timeout S] [-U [DOMAIN\\]USER[%PASSWORD] | -A FILE | -k] WORKSTATION\n"
     "                           list a workstation's monitors as Quick Check does"},
    {"batch", glimmora::cli::RunBatchCommand,
     "batch [--offline DIR] [--jobs N] [--timeout S] [--format csv|jsonl] [options]\n"
     "        [--resume] INPUT OUTPUT\n"
     "  batch [options] --retry-from OLD [--merge] OUTPUT\n"
     "                           inventory of every workstation listed in INPUT, as CSV\n"
     "                           or JSON lines; OLD's failures examined again"},
    {"diff", glimmora::cli::RunDiffCommand,
     "diff [--format csv|jsonl] [-o FILE] [--summary-json FILE] OLD NEW\n"
     "                           the monitors moved, added, removed, unplugged or\n"
     "                           plugged in again between two batch results"},
    {"restore-services", glimmora::cli::RunRestoreServicesCommand,
     "restore-services [-U ... | -A FILE | -k] JOURNAL\n"
     "                           put back the Remote Registry services a run started\n"
     "                           and could not put back (after a kill or a power cut)"},
};

void PrintCommands(std::FILE* out) {
  std::fputs("usage: glimmora COMMAND [ARGS...]\n\ncommands:\n", out);
  for (const Command& command : kCommands)
    std::fprintf(out, "  %.*s\n", static_cast<int>(command.synopsis.size()),
                 command.synopsis.data());
  std::fputs(
      "\n`glimmora help COMMAND` describes a command; `glimmora --version` tells the\n"
      "version and how this program was built.\n",
      out);
}

const Command* FindCommand(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

void PrintVersion() {
  std::printf("glimmora %s\nbuild: %s\n", GLIMMORA_VERSION, GLIMMORA_BUILD);
#if defined(_WIN32)
  std::puts("Remote Registry back end: the system's network registry (advapi32), built in");
#elif defined(GLIMMORA_HAVE_REGISTRY_RPC)
  std::puts("Remote Registry back end: over SMB with Samba's client libraries, built in");
#else
  std::puts("Remote Registry back end: not built in (no Samba client libraries at build time)");
#endif
}

// Whatever a command wrote must have reached standard output: a full disk or
// a closed pipe ends with kExitOutputError, whatever the command's own status.
int WithOutputChecked(int status) {
  errno = 0;
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  // The command has said so already.
  if (status == glimmora::cli::kExitOutputError) return status;
  const int error = errno;
  std::fprintf(stderr, "glimmora: standard output: %s\n",
               error != 0 ? std::strerror(error) : "write error");
  return glimmora::cli::kExitOutputError;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintCommands(stderr);
    return glimmora::cli::kExitUsage;
  }
  const std::string_view name = argv[1];
  if (name == "--version") {
    PrintVersion();
    return WithOutputChecked(0);
  }
  if (name == "help" && argc == 3) {
    const Command* command = FindCommand(argv[2]);
    if (command != nullptr) return WithOutputChecked(command->run({"--help"}));
    std::fprintf(stderr, "glimmora: unknown command '%s'\n", argv[2]);
    PrintCommands(stderr);
    return glimmora::cli::kExitUsage;
  }
  if (name == "--help" || name == "-h" || name == "help") {
    PrintCommands(stdout);
    return WithOutputChecked(0);
  }
  if (const Command* command = FindCommand(name)) {
    glimmora::cli::Arguments args(argv + 2, argv + argc);
    // The copy keeps the password; the process list must not show it.
    glimmora::cli::HidePasswordsInArgv(argc, argv);
    const int status = command->run(args);
    glimmora::cli::WipeArguments(&args);
    return WithOutputChecked(status);
  }
  std::fprintf(stderr, "glimmora: unknown command '%s'\n", argv[1]);
  PrintCommands(stderr);
  return glimmora::cli::kExitUsage;
}
