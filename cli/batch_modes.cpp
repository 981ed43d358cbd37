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

bool WriteWholeFile(std::FILE* file, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
}

}  // namespace

std::string BatchFileProblem(int textId, const std::string& path, const std::string& reason) {
  return LoadText(textId) + " " + path + (reason.empty() ? "" : ": " + reason);
}

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
    *problem = BatchFileProblem(kTextInputOpenError, inputPath, reason);
    return false;
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
      *problem = BatchFileProblem(kTextOutputOpenError, outputPath, reason);
      return false;
    }
  }
  // In place, OLD is replaced: no other batch may so much as hold it.
  old_ = HeldFile::Open(oldPath, inPlace ? HeldFile::Hold::kExclusive : HeldFile::Hold::kShared,
                        &reason);
  if (!old_) {
    *problem = BatchFileProblem(kTextInputOpenError, oldPath, reason);
    return false;
  }
  std::string bytes;
  if (!old_->Exists()) reason = FileErrorReason(oldPath, ENOENT);
  if (!old_->Exists() || !old_->Read(&bytes, &reason)) {
    *problem = BatchFileProblem(kTextInputOpenError, oldPath, reason);
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

void RetryRun::Collect(const std::string& workstation, WorkstationResult result,
                       const std::vector<std::string>& lines) {
  results_.push_back({workstation, result, lines});
}

bool RetryRun::WriteMerged(const std::string& outputPath, OutputEncoding encoding,
                           std::string* problem) {
  const std::string merged = std::string(EncodingStart(encoding)) +
                             EncodeText(encoding, MergeRetried(earlier_, retried_, results_));
  if (outputPath == kStandardStream) {
    SetBinaryMode(stdout);
    if (WriteWholeFile(stdout, merged)) return true;
    *problem =
        BatchFileProblem(kTextOutputWriteError, "standard output", FileErrorReason({}, errno));
    return false;
  }
  // OUTPUT has been held since OLD was read: no batch has written it since.
  std::string reason;
  if (!output_->Replace(merged, &reason)) {
    *problem = BatchFileProblem(kTextOutputWriteError, output_->Path(), reason);
    return false;
  }
  output_.reset();
  return true;
}

}  // namespace glimmora::cli
