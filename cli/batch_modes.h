#pragma once
// What `glimmora batch` does around the worker: standard input and output
// for "-", the result file's encoding, going on with an interrupted run
// (--resume), examining an earlier run's failures again (--retry-from, with
// --merge), and the counts at the end.

#include <memory>
#include <string>
#include <vector>

#include "batch/batch_summary.h"
#include "batch/batch_worker.h"
#include "batch/earlier_run.h"
#include "batch/held_file.h"
#include "batch/output_encoding.h"
#include "batch/result_format.h"
#include "batch/run_record.h"

namespace glimmora::cli {

// "-" names standard input as INPUT and standard output as OUTPUT.
inline constexpr const char* kStandardStream = "-";

// Opens INPUT and OUTPUT as the batch's services do, with "-" for the
// standard streams and the output in the encoding.
void UseBatchStreams(BatchServices* services, OutputEncoding encoding);

// Counts every workstation written into *summary (which outlives the batch).
void CountWorkstations(BatchServices* services, BatchSummary* summary);

// Sets the services up to go on with OUTPUT, the output of an earlier run of
// INPUT, and *keptBytes to the bytes of it that stay (the output is to be
// opened with OpenOutputFileKeeping); the kept workstations are counted into
// *summary as if this run had written them. False with *problem naming the
// line or the option that does not fit; OUTPUT is then not touched. An OUTPUT
// that does not exist is begun afresh.
bool PrepareResume(const std::string& inputPath, const std::string& outputPath,
                   OutputEncoding encoding, const ResultFormat& layout, const RunRecord& record,
                   BatchServices* services, std::uint64_t* keptBytes, BatchSummary* summary,
                   std::string* problem);

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
  // With --merge: the worker's lines are kept here instead of in OUTPUT.
  void CollectInstead(BatchServices* services);
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
