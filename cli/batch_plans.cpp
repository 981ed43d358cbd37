#include "cli/batch_plans.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "batch/earlier_run.h"
#include "batch/output_file.h"
#include "batch/stdio_file.h"
#include "cli/console.h"
#include "inventory/ansi_conversion.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

// Counts the workstations whose lines a resume keeps (the first `done` of
// INPUT) into *summary. A failure or no-monitor line is one workstation each;
// the rest have monitor lines (consecutive ones of one name read back as one).
void CountKept(const ResultFormat& layout, std::string_view kept, std::uint64_t done,
               BatchSummary* summary) {
  const EarlierOutput earlier = ReadEarlierOutput(layout, kept);
  std::uint64_t withLines = 0;
  std::uint64_t monitorLines = 0;
  for (const EarlierWorkstation& workstation : earlier.workstations) {
    if (workstation.result != WorkstationResult::kMonitors) {
      summary->AddWorkstations(workstation.result, 1, 1);
      ++withLines;
      continue;
    }
    for (std::string_view rest = workstation.lines; !rest.empty();) {
      const std::size_t length = layout.RecordLength(rest);
      if (length == 0) break;
      rest.remove_prefix(length);
      ++monitorLines;
    }
  }
  if (done > withLines)
    summary->AddWorkstations(WorkstationResult::kMonitors, done - withLines, monitorLines);
  summary->keptFromEarlierRun = done;
}

bool ReadRecordFile(const std::string& path, std::optional<RunRecord>* record, bool* exists,
                    std::string* reason) {
  std::error_code error;
  *exists = std::filesystem::exists(path, error);
  if (!*exists) return true;
  std::string text;
  if (!ReadWholeFile(path, &text, reason)) return false;
  *record = ParseRunRecord(text);
  return true;
}

// The options and the list OUTPUT's run was begun with, while it is
// unfinished, against this run's; empty when they fit or nothing recorded them.
std::string RecordProblem(const std::string& outputPath, const RunRecord& record) {
  const std::string recordPath = RunRecordPath(outputPath);
  std::optional<RunRecord> recorded;
  bool recordExists = false;
  std::string reason;
  if (!ReadRecordFile(recordPath, &recorded, &recordExists, &reason))
    return BatchFileProblem(kTextInputOpenError, recordPath, reason);
  if (recordExists && !recorded)
    return recordPath + " is not the record of a Glimmora run; " + outputPath +
           " is left as it is (remove the record to resume without its checks)";
  if (recorded) {
    if (const std::string mismatch = RunRecordMismatch(*recorded, record); !mismatch.empty())
      return outputPath + " cannot be resumed by this run: " + mismatch + " (as " + recordPath +
             " records); the file is left as it is";
  }
  return {};
}

// The result file, each write of which a second Ctrl-C lets finish: a
// workstation's lines, written at once, reach the file whole or not at all.
class UninterruptedOutput : public OutputStream {
 public:
  explicit UninterruptedOutput(std::unique_ptr<OutputStream> file) : file_(std::move(file)) {}
  std::size_t Write(std::string_view bytes) override {
    UninterruptedWrite whole;
    return file_->Write(bytes);
  }
  bool Close() override { return file_->Close(); }
  std::string FailureReason() const override { return file_->FailureReason(); }

 private:
  std::unique_ptr<OutputStream> file_;
};

// Where the lines go when --merge builds OUTPUT itself.
class DiscardOutput : public OutputStream {
 public:
  std::size_t Write(std::string_view bytes) override { return bytes.size(); }
  bool Close() override { return true; }
};

// OUTPUT as a file: what stays of it kept, the record written beside it.
std::unique_ptr<OutputStream> OpenResultFile(const std::string& path, std::uint64_t keptBytes,
                                             const std::optional<RunRecord>& record,
                                             std::string* reason) {
  std::unique_ptr<OutputStream> file = OpenOutputFileKeeping(path, keptBytes, reason);
  if (!file) return nullptr;
  std::error_code error;
  std::string why;
  if (record && std::filesystem::is_regular_file(path, error) &&
      !ReplaceWholeFile(RunRecordPath(path), FormatRunRecord(*record), &why))
    std::fprintf(stderr,
                 "glimmora batch: warning: %s not written (%s); a --resume of %s cannot "
                 "check its options and list\n",
                 RunRecordPath(path).c_str(), why.c_str(), path.c_str());
  return std::make_unique<UninterruptedOutput>(std::move(file));
}

std::unique_ptr<InputFile> OpenListFile(const std::string& path, std::string* reason) {
  if (path != kStandardStream) return OpenInputFile(path, reason);
  UniqueFile input(DuplicateStandardInput());
  if (!input) return nullptr;
  auto list = std::make_unique<InputFile>(std::move(input));
  // As a file is: a list whose start cannot be read is refused with the reason.
  if (list->ReadFailed()) {
    if (reason != nullptr) *reason = list->FailureReason();
    return nullptr;
  }
  return list;
}

}  // namespace

std::optional<BatchPlan> PlanFreshRun(const PlanRequest& request, PlanRefusal* refusal) {
  BatchPlan plan;
  plan.encoding = request.encoding;
  if (request.outputPath == kStandardStream) return plan;
  RunRecord record;
  if (!MakeRunRecord(request.reportLayout, request.pnpIdsPath, request.encoding, request.inputPath,
                     &record, &refusal->why))
    return std::nullopt;
  plan.record = std::move(record);
  return plan;
}

std::optional<BatchPlan> PlanResumedRun(const PlanRequest& request, PlanRefusal* refusal) {
  std::optional<BatchPlan> plan = PlanFreshRun(request, refusal);
  std::error_code error;
  if (!plan || !std::filesystem::exists(request.outputPath, error)) return plan;
  const std::string& inputPath = request.inputPath;
  const std::string& outputPath = request.outputPath;
  std::string& problem = refusal->why;
  if (problem = RecordProblem(outputPath, *plan->record); !problem.empty()) return std::nullopt;
  std::string existing;
  std::string reason;
  if (!ReadWholeFile(outputPath, &existing, &reason)) {
    problem = BatchFileProblem(kTextOutputOpenError, outputPath, reason);
    return std::nullopt;
  }
  std::unique_ptr<InputFile> input = OpenInputFile(inputPath, &reason);
  if (!input) {
    problem = BatchFileProblem(kTextInputOpenError, inputPath, reason);
    return std::nullopt;
  }
  const NameSource names = [&input]() -> std::optional<std::string> {
    while (!input->AtEnd()) {
      std::string name = ExtractWorkstationName(ReadInputLine(*input));
      if (!name.empty()) return name;
    }
    return std::nullopt;
  };
  const OutputEncoding encoding = plan->encoding;
  const TextEncoder encode = [encoding](std::string_view text) {
    return EncodeText(encoding, text);
  };
  const std::string_view start = EncodingStart(encoding);
  const ResumePlan resume = PlanResume(*request.readBack, start, encode, existing, names);
  if (!resume.fits) {
    problem = outputPath + " is not the beginning of what this batch writes for " + inputPath +
              ": " + resume.refusal + "; the file is left as it is";
    return std::nullopt;
  }
  plan->writeHeader = resume.writeHeader;
  plan->workstationsDone = resume.workstationsDone;
  plan->keptBytes = resume.keptBytes;
  if (resume.workstationsDone > 0) {
    std::string kept = existing.substr(0, resume.keptBytes);
    kept.erase(0, start.size());
    if (encoding != OutputEncoding::kAnsi) kept = AnsiFromUtf8(kept);
    CountKept(*request.readBack, kept, resume.workstationsDone, &plan->startCounts);
  }
  return plan;
}

std::optional<BatchPlan> PlanRetriedRun(const PlanRequest& request, PlanRefusal* refusal) {
  std::error_code sameFile;
  if (!request.merge &&
      std::filesystem::equivalent(request.inputPath, request.outputPath, sameFile)) {
    // The retried lines alone would take the place of all of OLD.
    *refusal = {"OUTPUT is OLD; --merge updates it in place", true};
    return std::nullopt;
  }
  BatchPlan plan;
  plan.encoding = request.encoding;
  plan.merge = request.merge;
  plan.retry = std::make_unique<RetryRun>();
  if (!plan.retry->Read(request.inputPath, request.outputPath, request.merge, *request.readBack,
                        request.reportLayout.format == ReportFormat::kJson, request.encodingGiven,
                        &plan.encoding, &refusal->why))
    return std::nullopt;
  return plan;
}

void ApplyBatchPlan(BatchPlan& plan, BatchServices* services) {
  services->writeHeader = plan.writeHeader;
  services->workstationsDone = plan.workstationsDone;
  if (plan.retry) services->workstationList = plan.retry->Names();
  services->openInputFile = OpenListFile;
  if (plan.merge) {
    // OUTPUT is written whole once the retry is done.
    services->openOutputFile = [](const std::string&,
                                  std::string*) -> std::unique_ptr<OutputStream> {
      return std::make_unique<DiscardOutput>();
    };
    return;
  }
  services->openOutputFile = [&plan](const std::string& path,
                                     std::string* reason) -> std::unique_ptr<OutputStream> {
    std::unique_ptr<OutputStream> output =
        path == kStandardStream ? StandardOutputStream()
                                : OpenResultFile(path, plan.keptBytes, plan.record, reason);
    // The text as the program holds it goes out unchanged, as it always has.
    if (plan.encoding == OutputEncoding::kAnsi) return output;
    return EncodingOutput(std::move(output), plan.encoding, plan.writeHeader);
  };
}

}  // namespace glimmora::cli
