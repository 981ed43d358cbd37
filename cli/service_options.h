#pragma once
// --start-service and --service-journal FILE of glimmora check and glimmora
// batch, and glimmora restore-services JOURNAL: starting the Remote Registry
// service of workstations that keep it disabled, with a journal of every
// change until it is put back.

#include <memory>
#include <span>
#include <string>

#include "batch/service_journal.h"
#include "cli/commands.h"
#include "cli/option_parser.h"
#include "inventory/registry/registry_access.h"

namespace glimmora::cli {

extern const char* const kServiceOptionsHelp;

struct ServiceOptions {
  bool startService = false;
  std::string journalPath;  // empty: the default
};

// These options, for a command's table: --start-service, --service-journal.
std::span<const OptionSpec> ServiceOptionTable();

ServiceOptions ReadServiceOptions(const ParsedArguments& parsed);

// The service options that do not go together, or not with --offline; empty
// when they do.
std::string ServiceOptionsProblem(const ServiceOptions& options, bool offline);

// The journal of a command that writes no file: under the user's state
// directory ($XDG_STATE_HOME or ~/.local/state, %LOCALAPPDATA% on Windows).
std::string DefaultServiceJournal();

// What --start-service needs for a run: the journal, open, and the starter
// over the back end's service manager.
class ServiceStartSession {
 public:
  // False with *problem when the back end cannot start services or the
  // journal cannot be opened. Workstations an earlier run left changed are
  // named on standard error.
  bool Begin(const ServiceOptions& options, RegistryAccess& registry,
             const std::string& defaultJournal, const char* command, std::string* problem);
  // Null without --start-service.
  ServiceStarter* Starter() const { return starter_.get(); }
  const std::string& JournalPath() const { return journalPath_; }

 private:
  std::string journalPath_;
  std::unique_ptr<ServiceJournalFile> journal_;
  std::unique_ptr<ServiceStarter> starter_;
};

}  // namespace glimmora::cli
