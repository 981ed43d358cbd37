#include "cli/batch_modes.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/console.h"
#include "inventory/ansi_conversion.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

// As the batch's own messages read: the program's text, the file, the reason.
std::string FileProblem(int textId, const std::string& path, const std::string& reason) {
  return LoadText(textId) + " " + path + (reason.empty() ? "" : ": " + reason);
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason) {
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    *reason = FileErrorReason(path, errno);
    return false;
  }
  char buffer[64 * 1024];
  std::size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
    bytes->append(buffer, count);
  if (std::ferror(file.get()) != 0) {
    *reason = FileErrorReason(path, errno != 0 ? errno : EIO);
    return false;
  }
  return true;
}

// Where the lines go when --merge builds OUTPUT itself.
class DiscardOutput : public OutputStream {
 public:
  std::size_t Write(std::string_view bytes) override { return bytes.size(); }
  bool Close() override { return true; }
};

bool WriteWholeFile(std::FILE* file, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
}

}  // namespace

void UseBatchStreams(BatchServices* services, OutputEncoding encoding) {
  auto openInput = services->openInputFile;
  services->openInputFile = [openInput](const std::string& path,
                                        std::string* reason) -> std::unique_ptr<InputFile> {
    if (path != kStandardStream) return openInput(path, reason);
    UniqueFile input(DuplicateStandardInput());
    if (!input) return nullptr;
    auto list = std::make_unique<InputFile>(std::move(input));
    // As a file is: a list whose start cannot be read is refused with the reason.
    if (list->ReadFailed()) {
      if (reason != nullptr) *reason = list->FailureReason();
      return nullptr;
    }
    return list;
  };
  auto openOutput = services->openOutputFile;
  const bool atStart = services->writeHeader;
  services->openOutputFile = [openOutput, encoding, atStart](
                                 const std::string& path,
                                 std::string* reason) -> std::unique_ptr<OutputStream> {
    std::unique_ptr<OutputStream> output =
        path == kStandardStream ? StandardOutputStream() : openOutput(path, reason);
    // The text as the program holds it goes out unchanged, as it always has.
    if (encoding == OutputEncoding::kAnsi) return output;
    return EncodingOutput(std::move(output), encoding, atStart);
  };
}

void CountWorkstations(BatchServices* services, BatchSummary* summary) {
  services->workstationWritten = [summary](const std::string& workstation,
                                           const std::vector<std::string>& lines,
                                           WorkstationResult result, ServiceHandling service,
                                           std::chrono::steady_clock::duration took) {
    if (lines.empty()) return;
    summary->Add(workstation, result, lines.size(), took);
    summary->AddService(service);
  };
}

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

}  // namespace

bool MakeRunRecord(const ReportLayout& layout, const std::string& pnpIdsPath,
                   OutputEncoding encoding, const std::string& inputPath, RunRecord* record,
                   std::string* problem) {
  record->columns = layout.extendedColumns ? "extended" : "specified";
  record->format = layout.format == ReportFormat::kJson ? "jsonl" : "csv";
  record->presentOnly = layout.presentOnly;
  // The maker list shapes only the outputs that name makers.
  record->pnpIds.clear();
  if (layout.ShowsExtendedFields()) {
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(pnpIdsPath, ignored);
    record->pnpIds = ignored ? pnpIdsPath : absolute.lexically_normal().string();
  }
  record->encoding = encoding == OutputEncoding::kUtf8      ? "utf-8"
                     : encoding == OutputEncoding::kUtf8Bom ? "utf-8-bom"
                                                            : "ansi";
  record->input.clear();
  // A pipe or a device is read once, by the batch: it has no identity to keep.
  std::error_code error;
  if (inputPath == kStandardStream || !std::filesystem::is_regular_file(inputPath, error))
    return true;
  std::string reason;
  if (!ListIdentity(inputPath, &record->input, &reason)) {
    *problem = FileProblem(kTextInputOpenError, inputPath, reason);
    return false;
  }
  return true;
}

bool PrepareResume(const std::string& inputPath, const std::string& outputPath,
                   OutputEncoding encoding, const ResultFormat& layout, const RunRecord& record,
                   BatchServices* services, std::uint64_t* keptBytes, BatchSummary* summary,
                   std::string* problem) {
  std::error_code error;
  if (!std::filesystem::exists(outputPath, error)) return true;  // begun afresh
  // The options and the list the run was begun with, while it is unfinished.
  const std::string recordPath = RunRecordPath(outputPath);
  std::optional<RunRecord> recorded;
  bool recordExists = false;
  std::string reason;
  if (!ReadRecordFile(recordPath, &recorded, &recordExists, &reason)) {
    *problem = FileProblem(kTextInputOpenError, recordPath, reason);
    return false;
  }
  if (recordExists && !recorded) {
    *problem = recordPath + " is not the record of a Glimmora run; " + outputPath +
               " is left as it is (remove the record to resume without its checks)";
    return false;
  }
  if (recorded) {
    if (const std::string mismatch = RunRecordMismatch(*recorded, record); !mismatch.empty()) {
      *problem = outputPath + " cannot be resumed by this run: " + mismatch + " (as " + recordPath +
                 " records); the file is left as it is";
      return false;
    }
  }
  std::string existing;
  if (!ReadWholeFile(outputPath, &existing, &reason)) {
    *problem = FileProblem(kTextOutputOpenError, outputPath, reason);
    return false;
  }
  std::unique_ptr<InputFile> input = services->openInputFile(inputPath, &reason);
  if (!input) {
    *problem = FileProblem(kTextInputOpenError, inputPath, reason);
    return false;
  }
  const NameSource names = [&input]() -> std::optional<std::string> {
    while (!input->AtEnd()) {
      std::string name = ExtractWorkstationName(ReadInputLine(*input));
      if (!name.empty()) return name;
    }
    return std::nullopt;
  };
  const TextEncoder encode = [encoding](std::string_view text) {
    return EncodeText(encoding, text);
  };
  const ResumePlan plan = PlanResume(layout, EncodingStart(encoding), encode, existing, names);
  if (!plan.fits) {
    *problem = outputPath + " is not the beginning of what this batch writes for " + inputPath +
               ": " + plan.refusal + "; the file is left as it is";
    return false;
  }
  services->writeHeader = plan.writeHeader;
  services->workstationsDone = plan.workstationsDone;
  *keptBytes = plan.keptBytes;
  if (plan.workstationsDone > 0) {
    std::string kept = existing.substr(0, plan.keptBytes);
    const std::string_view start = EncodingStart(encoding);
    kept.erase(0, start.size());
    if (encoding != OutputEncoding::kAnsi) kept = AnsiFromUtf8(kept);
    CountKept(layout, kept, plan.workstationsDone, summary);
  }
  return true;
}

bool RetryRun::Read(const std::string& oldPath, const std::string& outputPath, bool merge,
                    const ResultFormat& layout, bool jsonLines, bool encodingGiven,
                    OutputEncoding* encoding, std::string* problem) {
  std::string reason;
  std::error_code error;
  const bool inPlace = merge && outputPath != kStandardStream &&
                       std::filesystem::equivalent(oldPath, outputPath, error);
  if (merge && !inPlace && outputPath != kStandardStream) {
    output_ = HeldFile::Open(outputPath, HeldFile::Hold::kExclusive, &reason);
    if (!output_) {
      *problem = FileProblem(kTextOutputOpenError, outputPath, reason);
      return false;
    }
  }
  // In place, OLD is replaced: no other batch may so much as hold it.
  old_ = HeldFile::Open(oldPath, inPlace ? HeldFile::Hold::kExclusive : HeldFile::Hold::kShared,
                        &reason);
  if (!old_) {
    *problem = FileProblem(kTextInputOpenError, oldPath, reason);
    return false;
  }
  std::string bytes;
  if (!old_->Exists()) reason = FileErrorReason(oldPath, ENOENT);
  if (!old_->Exists() || !old_->Read(&bytes, &reason)) {
    *problem = FileProblem(kTextInputOpenError, oldPath, reason);
    return false;
  }
  const bool marked = bytes.compare(0, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0;
  if (marked) bytes.erase(0, kUtf8ByteOrderMark.size());
  // A merged CSV file keeps the mark of the one it is made from; JSON lines
  // never have one (an editor may have put it there).
  if (marked && !encodingGiven && !jsonLines) *encoding = OutputEncoding::kUtf8Bom;
  const bool utf8 = !jsonLines && (marked || *encoding != OutputEncoding::kAnsi);
  text_ = utf8 ? AnsiFromUtf8(bytes) : std::move(bytes);
  earlier_ = ReadEarlierOutput(layout, text_);
  if (!earlier_.fits) {
    *problem = oldPath + " is not a Glimmora result file: " + earlier_.refusal;
    return false;
  }
  retried_ = FailedWorkstations(earlier_);
  if (inPlace) output_ = std::move(old_);
  return true;
}

std::shared_ptr<const std::vector<std::string>> RetryRun::Names() const {
  auto names = std::make_shared<std::vector<std::string>>();
  names->reserve(retried_.size());
  for (std::size_t place : retried_) names->push_back(earlier_.workstations[place].workstation);
  return names;
}

void RetryRun::CollectInstead(BatchServices* services) {
  services->openOutputFile = [](const std::string&, std::string*) -> std::unique_ptr<OutputStream> {
    return std::make_unique<DiscardOutput>();
  };
  auto counted = services->workstationWritten;
  services->workstationWritten = [this, counted](const std::string& workstation,
                                                 const std::vector<std::string>& lines,
                                                 WorkstationResult result, ServiceHandling service,
                                                 std::chrono::steady_clock::duration took) {
    if (counted) counted(workstation, lines, result, service, took);
    results_.push_back({workstation, result, lines});
  };
}

bool RetryRun::WriteMerged(const std::string& outputPath, OutputEncoding encoding,
                           std::string* problem) {
  const std::string merged = std::string(EncodingStart(encoding)) +
                             EncodeText(encoding, MergeRetried(earlier_, retried_, results_));
  if (outputPath == kStandardStream) {
    SetBinaryMode(stdout);
    if (WriteWholeFile(stdout, merged)) return true;
    *problem = FileProblem(kTextOutputWriteError, "standard output", FileErrorReason({}, errno));
    return false;
  }
  // OUTPUT has been held since OLD was read: no batch has written it since.
  std::string reason;
  if (!output_->Replace(merged, &reason)) {
    *problem = FileProblem(kTextOutputWriteError, output_->Path(), reason);
    return false;
  }
  output_.reset();
  return true;
}

}  // namespace glimmora::cli
