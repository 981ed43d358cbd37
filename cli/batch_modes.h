#pragma once
// The files of `glimmora batch` around the worker: the record of a run that
// a resume checks, and an earlier run's output read for --retry-from and
// merged with what the retry brings (--merge). The plans (batch_plans.h) put
// them to use.

#include <memory>
#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/earlier_run.h"
#include "batch/held_file.h"
#include "batch/output_encoding.h"
#include "batch/result_format.h"
#include "batch/run_record.h"

namespace glimmora::cli {

// "-" names standard input as INPUT and standard output as OUTPUT.
inline constexpr const char* kStandardStream = "-";

// As the batch's own messages read: the program's text, the file, the reason.
std::string BatchFileProblem(int textId, const std::string& path, const std::string& reason);

// The record of a run that writes OUTPUT, for a resume to check; false with
// *problem when INPUT cannot be read.
bool MakeRunRecord(const ReportLayout& layout, const std::string& pnpIdsPath,
                   OutputEncoding encoding, const std::string& inputPath, RunRecord* record,
                   std::string* problem);

// An earlier run's output, read for --retry-from, and what the retry brings.
class RetryRun {
 public:
  // Reads OLD, held so that no batch writes it meanwhile. With `merge`,
  // OUTPUT is held too, from now until the merged file is in its place: a
  // batch that writes either refuses this one, and this one refuses it.
  // False with *problem saying why.
  bool Read(const std::string& oldPath, const std::string& outputPath, bool merge,
            const ResultFormat& layout, bool jsonLines, bool encodingGiven,
            OutputEncoding* encoding, std::string* problem);
  std::size_t Count() const { return retried_.size(); }
  // The workstations to examine again, as OLD names them, for the worker.
  std::shared_ptr<const std::vector<std::string>> Names() const;
  // With --merge: a workstation's lines, kept here instead of in OUTPUT.
  void Collect(const std::string& workstation, WorkstationResult result,
               const std::vector<std::string>& lines);
  // Writes OUTPUT: OLD with the lines replaced where the retry succeeded,
  // through a new file that takes OUTPUT's place only when whole, with the
  // mode, owner and group OUTPUT had.
  bool WriteMerged(const std::string& outputPath, OutputEncoding encoding, std::string* problem);

 private:
  std::string text_;
  EarlierOutput earlier_;
  std::vector<std::size_t> retried_;
  std::vector<RetriedWorkstation> results_;
  std::unique_ptr<HeldFile> old_;
  std::unique_ptr<HeldFile> output_;  // with --merge; the same as old_ when OUTPUT is OLD
};

}  // namespace glimmora::cli
