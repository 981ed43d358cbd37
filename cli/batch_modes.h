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
#include "batch/output_encoding.h"
#include "batch/result_layout.h"

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
// opened with OpenOutputFileKeeping): false with *problem naming the line
// that does not fit; OUTPUT is then not touched. An OUTPUT that does not
// exist is begun afresh.
bool PrepareResume(const std::string& inputPath, const std::string& outputPath,
                   OutputEncoding encoding, const ResultLayout& layout, BatchServices* services,
                   std::uint64_t* keptBytes, BatchSummary* summary, std::string* problem);

// An earlier run's output, read for --retry-from, and what the retry brings.
class RetryRun {
 public:
  // Reads OLD; false with *problem saying why it is not a result file.
  bool Read(const std::string& oldPath, const ResultLayout& layout, bool encodingGiven,
            OutputEncoding* encoding, std::string* problem);
  std::size_t Count() const { return retried_.size(); }
  // Writes the names to retry into a list of its own, the batch's INPUT.
  bool WriteNames(std::string* path, std::string* problem);
  // With --merge: the worker's lines are kept here instead of in OUTPUT.
  void CollectInstead(BatchServices* services);
  // Writes OUTPUT: OLD with the lines replaced where the retry succeeded,
  // through a new file that takes OUTPUT's place only when whole.
  bool WriteMerged(const std::string& outputPath, OutputEncoding encoding, std::string* problem);
  ~RetryRun();

 private:
  const ResultLayout* layout_ = nullptr;
  std::string text_;
  EarlierOutput earlier_;
  std::vector<std::size_t> retried_;
  std::vector<std::vector<std::string>> lines_;
  std::string namesPath_;
};

}  // namespace glimmora::cli
