#pragma once
// What the two ways of running a batch (one workstation after the other, and
// several at once) share besides the examination itself: opening the files
// with the failure report, and closing them with it.

#include <memory>
#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/input_list.h"
#include "batch/output_file.h"

namespace glimmora {

struct BatchFiles {
  std::unique_ptr<InputFile> input;  // none when the services give the names
  std::unique_ptr<OutputStream> output;
};

// The names a batch examines, in order: the input's lines, or the list the
// services give instead (a retry's workstations, as an earlier output names
// them, each examined as it stands).
class WorkstationNames {
 public:
  WorkstationNames(InputFile* input, const std::vector<std::string>* list)
      : input_(input), list_(list) {}
  bool AtEnd() const { return list_ != nullptr ? next_ >= list_->size() : input_->AtEnd(); }
  // The next line's name, counted in the state's lines read; empty for a line
  // that names none (and at the end).
  std::string Next(BatchState& state);

 private:
  InputFile* input_;
  const std::vector<std::string>* list_;
  std::size_t next_ = 0;
};

// Fills the failure report; the style and flag say it is an error.
void ReportBatchFailure(BatchState& state, std::string text, std::string path = {},
                        std::string reason = {});

// Resets the report and progress counts, opens the input and then the output
// and writes the header line. False when the batch cannot go on: the report
// says why and the files are closed again (the output stays untouched unless
// the header failed).
bool OpenBatchFiles(BatchState& state, const BatchServices& services, const ResultFormat& format,
                    const std::string& inputPath, const std::string& outputPath, BatchFiles* files);

// Closes both files. A result file that could not be written in full, or an
// input that broke off part-way, must not pass for a finished batch: either
// goes into the report.
void CloseBatchFiles(BatchState& state, BatchFiles* files, bool writeFailed,
                     const std::string& inputPath, const std::string& outputPath);

// 0 when every line was written whole; -1 at the first that was not.
int WriteWorkstationLines(OutputStream& output, const std::vector<std::string>& lines);

}  // namespace glimmora
