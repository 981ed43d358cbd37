#include "cli/service_options.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "cli/network_options.h"
#include "inventory/registry/registry_network.h"

namespace glimmora::cli {

const char* const kServiceOptionsHelp =
    "  --start-service  when a workstation's registry does not open because its Remote\n"
    "               Registry service does not run, start it through the service manager\n"
    "               (a disabled one set to manual first), read, and put it back exactly\n"
    "  --service-journal FILE  where each change is recorded before it is made, until it\n"
    "               is put back (default: OUTPUT.glimmora-services; for check, or OUTPUT -,\n"
    "               services.journal under the user's state directory)\n";

namespace {

constexpr std::size_t kNamesShown = 5;

constexpr OptionSpec kServiceOptions[] = {
    {"--start-service", false},
    {"--service-journal", true},
};

std::string PendingNames(const std::vector<PendingRestore>& pending) {
  std::string names;
  for (std::size_t i = 0; i < pending.size() && i < kNamesShown; ++i)
    names += (i == 0 ? "" : ", ") + pending[i].workstation;
  if (pending.size() > kNamesShown) names += ", ...";
  return names;
}

}  // namespace

std::span<const OptionSpec> ServiceOptionTable() {
  return kServiceOptions;
}

ServiceOptions ReadServiceOptions(const ParsedArguments& parsed) {
  ServiceOptions options;
  for (const ParsedOption& option : parsed.options) {
    if (option.name == "--start-service")
      options.startService = true;
    else if (option.name == "--service-journal")
      options.journalPath = option.value;
  }
  return options;
}

std::string ServiceOptionsProblem(const ServiceOptions& options, bool offline) {
  if (!options.journalPath.empty() && !options.startService)
    return "--service-journal goes with --start-service";
  if (options.startService && offline)
    return "--start-service reaches workstations over the network; --offline reads exports";
  return {};
}

std::string DefaultServiceJournal() {
  std::filesystem::path directory;
#ifdef _WIN32
  if (const char* local = std::getenv("LOCALAPPDATA"); local != nullptr && *local != '\0')
    directory = std::filesystem::path(local) / "Glimmora";
#else
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/')
    directory = std::filesystem::path(state) / "glimmora";
  else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    directory = std::filesystem::path(home) / ".local" / "state" / "glimmora";
#endif
  if (directory.empty()) return "glimmora-services.journal";
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);
  return (directory / "services.journal").string();
}

bool ServiceStartSession::Begin(const ServiceOptions& options, RegistryAccess& registry,
                                const std::string& defaultJournal, const char* command,
                                std::string* problem) {
  if (!options.startService) return true;
  ServiceManagerAccess* manager = registry.ServiceManager();
  if (manager == nullptr) {
    *problem =
        "--start-service: this registry back end cannot reach the workstations' service "
        "manager (this build has no Remote Registry back end)";
    return false;
  }
  journalPath_ = options.journalPath.empty() ? defaultJournal : options.journalPath;
  std::vector<PendingRestore> pending;
  std::string reason;
  journal_ = ServiceJournalFile::Open(journalPath_, &pending, &reason);
  if (!journal_) {
    *problem = "--service-journal " + journalPath_ + ": " + reason;
    return false;
  }
  if (!pending.empty())
    std::fprintf(stderr,
                 "glimmora %s: %s records %zu workstation(s) whose Remote Registry service was "
                 "started and not put back (%s): run glimmora restore-services %s\n",
                 command, journalPath_.c_str(), pending.size(), PendingNames(pending).c_str(),
                 journalPath_.c_str());
  starter_ = std::make_unique<ServiceStarter>(*manager, journal_.get());
  return true;
}

int RunRestoreServicesCommand(const Arguments& arguments) {
  static const char kUsage[] =
      "usage: glimmora restore-services [--connect-timeout S] [-U USER | -A FILE | -k] JOURNAL\n"
      "Puts back the Remote Registry service of every workstation JOURNAL (a\n"
      "--service-journal) records as started and not put back: stopped again, and\n"
      "disabled again where it was. Exit status: 0 every one put back (or none to\n"
      "put back), 1 some could not be or the journal could not be read, 64 usage error.\n";
  Arguments args = arguments;
  CredentialOptions credentials;
  std::string problem;
  const auto usage = [&](const std::string& why) {
    std::fprintf(stderr, "glimmora restore-services: %s\n%s", why.c_str(), kUsage);
    return kExitUsage;
  };
  if (!TakeNetworkOptions(&args, &credentials, &problem)) return usage(problem);
  static constexpr OptionSpec kOptions[] = {{"--connect-timeout", true}};
  ParsedArguments parsed;
  if (!ParseArguments(args, kOptions, &parsed, &problem)) return usage(problem);
  if (parsed.help) {
    std::fputs(kUsage, stdout);
    std::fputs(kNetworkOptionsHelp, stdout);
    return 0;
  }
  NetworkRegistryOptions networkOptions;
  for (const ParsedOption& option : parsed.options) {
    if (option.name == "--connect-timeout" &&
        !ParseConnectTimeout(std::string(option.value), &networkOptions.connectTimeout))
      return usage("--connect-timeout needs a number of seconds");
  }
  if (parsed.operands.size() != 1) return usage("give the JOURNAL");
  const std::string& path = parsed.operands.front();
  std::vector<PendingRestore> pending;
  std::unique_ptr<ServiceJournalFile> journal = ServiceJournalFile::Open(path, &pending, &problem);
  if (!journal) {
    std::fprintf(stderr, "glimmora restore-services: %s: %s\n", path.c_str(), problem.c_str());
    return 1;
  }
  if (pending.empty()) {
    std::printf("%s: nothing to put back\n", path.c_str());
    return 0;
  }
  if (!ResolveNetworkCredentials(credentials, &networkOptions, &problem)) return usage(problem);
  std::unique_ptr<RegistryAccess> registry = CreateNetworkRegistry(networkOptions);
  ServiceManagerAccess* manager = registry->ServiceManager();
  if (manager == nullptr) {
    std::fprintf(stderr,
                 "glimmora restore-services: this build cannot reach the workstations' service "
                 "manager\n");
    return 1;
  }
  ServiceStarter starter(*manager, journal.get());
  int status = 0;
  for (const PendingRestore& restore : pending) {
    const ServiceHandling handling =
        starter.RestoreRecorded(restore.workstation, restore.change, &problem);
    if (handling == ServiceHandling::kStartedRestored) {
      std::printf("%s: put back (%s)\n", restore.workstation.c_str(),
                  restore.change.enabled ? "stopped and disabled" : "stopped");
    } else {
      std::printf("%s: %s\n", restore.workstation.c_str(), problem.c_str());
      status = 1;
    }
  }
  return status;
}

}  // namespace glimmora::cli
