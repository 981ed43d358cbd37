#pragma once
// The journal of the services a run started: a line written and on the disk
// before the first change on a workstation, another once it is put back. A
// run ended in between (a kill, a power cut) leaves the first without the
// second; `glimmora restore-services` reads those and puts them back, and the
// next run with the journal says that they are there.
//
//   glimmora service journal 1
//   begin<TAB>WORKSTATION<TAB>disabled|stopped<TAB>2026-12-09T20:31:02Z
//   done<TAB>WORKSTATION
//
// "disabled": the service was disabled and stopped (set to manual, started);
// "stopped": it was stopped only. A workstation name holds no tab or line end.

#include <mutex>
#include <string>
#include <vector>

#include "batch/stdio_file.h"
#include "inventory/registry/service_start.h"

namespace glimmora {

// A change the journal holds and no restore has closed.
struct PendingRestore {
  std::string workstation;
  ServiceChange change;
};

class ServiceJournalFile : public ServiceJournal {
 public:
  // Opens the journal to add to it, created when missing; null with *reason
  // when it cannot be. *pending: what it holds unrestored, in its order.
  static std::unique_ptr<ServiceJournalFile> Open(const std::string& path,
                                                  std::vector<PendingRestore>* pending,
                                                  std::string* reason);
  bool Begin(const std::string& workstation, const ServiceChange& planned,
             std::string* reason) override;
  bool Done(const std::string& workstation, std::string* reason) override;
  const std::string& Path() const { return path_; }

 private:
  ServiceJournalFile(std::string path, UniqueFile file)
      : path_(std::move(path)), file_(std::move(file)) {}
  bool Append(const std::string& line, std::string* reason);

  std::string path_;
  std::mutex mutex_;
  UniqueFile file_;
};

// The changes a journal's text holds unrestored: each begin without a done
// after it for the same workstation. False when the text is not a journal.
bool ReadPendingRestores(std::string_view text, std::vector<PendingRestore>* pending);

// Bytes written by the program reach the disk before it goes on (fsync;
// _commit on Windows). False when the system says they did not.
bool FlushToDisk(std::FILE* file);

}  // namespace glimmora
