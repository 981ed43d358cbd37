#include "cli/batch_modes.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "cli/console.h"
#include "inventory/ansi_conversion.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
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
  services->openInputFile = [openInput](const std::string& path) -> std::unique_ptr<InputFile> {
    if (path != kStandardStream) return openInput(path);
    UniqueFile input(DuplicateStandardInput());
    if (!input) return nullptr;
    return std::make_unique<InputFile>(std::move(input));
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

void CountWorkstations(BatchServices* services, const ResultLayout& layout, BatchSummary* summary) {
  services->workstationWritten = [&layout, summary](const std::string& workstation,
                                                    const std::vector<std::string>& lines,
                                                    std::chrono::steady_clock::duration took) {
    if (lines.empty()) return;
    const std::optional<WorkstationResult> result = layout.ResultOf(lines.front(), workstation);
    summary->Add(workstation, result.value_or(WorkstationResult::kRegistryUnreachable),
                 lines.size(), took);
  };
}

bool PrepareResume(const std::string& inputPath, const std::string& outputPath,
                   OutputEncoding encoding, const ResultLayout& layout, BatchServices* services,
                   std::uint64_t* keptBytes, BatchSummary* summary, std::string* problem) {
  if (inputPath == kStandardStream || outputPath == kStandardStream) {
    *problem = "--resume needs INPUT and OUTPUT to be files";
    return false;
  }
  std::error_code error;
  if (!std::filesystem::exists(outputPath, error)) return true;  // begun afresh
  std::string existing;
  if (!ReadWholeFile(outputPath, &existing)) {
    *problem = outputPath + ": " + LoadText(kTextOutputOpenError);
    return false;
  }
  std::unique_ptr<InputFile> input = services->openInputFile(inputPath);
  if (!input) {
    *problem = inputPath + ": " + LoadText(kTextInputOpenError);
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
  summary->keptFromEarlierRun = plan.workstationsDone;
  *keptBytes = plan.keptBytes;
  return true;
}

bool RetryRun::Read(const std::string& oldPath, const ResultLayout& layout, bool encodingGiven,
                    OutputEncoding* encoding, std::string* problem) {
  layout_ = &layout;
  std::string bytes;
  if (!ReadWholeFile(oldPath, &bytes)) {
    *problem = oldPath + ": " + LoadText(kTextInputOpenError);
    return false;
  }
  const bool marked = bytes.compare(0, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0;
  if (marked) bytes.erase(0, kUtf8ByteOrderMark.size());
  // A merged file keeps the mark of the one it is made from.
  if (marked && !encodingGiven) *encoding = OutputEncoding::kUtf8Bom;
  text_ = marked || *encoding != OutputEncoding::kAnsi ? AnsiFromUtf8(bytes) : std::move(bytes);
  earlier_ = ReadEarlierOutput(layout, text_);
  if (!earlier_.fits) {
    *problem = oldPath + " is not a Glimmora result file: " + earlier_.refusal;
    return false;
  }
  retried_ = FailedWorkstations(earlier_);
  return true;
}

bool RetryRun::WriteNames(std::string* path, std::string* problem) {
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::temp_directory_path(error);
  namesPath_ =
      (directory / ("glimmora-retry-" + std::to_string(std::random_device()()) + ".txt")).string();
  UniqueFile file(std::fopen(namesPath_.c_str(), "wb"));
  std::string names;
  for (std::size_t place : retried_) names += earlier_.workstations[place].workstation + "\n";
  if (!file || !WriteWholeFile(file.get(), names) || std::fclose(file.release()) != 0) {
    *problem = namesPath_ + ": " + LoadText(kTextOutputWriteError);
    return false;
  }
  *path = namesPath_;
  return true;
}

void RetryRun::CollectInstead(BatchServices* services) {
  services->openOutputFile = [](const std::string&, std::string*) -> std::unique_ptr<OutputStream> {
    return std::make_unique<DiscardOutput>();
  };
  auto counted = services->workstationWritten;
  services->workstationWritten = [this, counted](const std::string& workstation,
                                                 const std::vector<std::string>& lines,
                                                 std::chrono::steady_clock::duration took) {
    if (counted) counted(workstation, lines, took);
    lines_.push_back(lines);
  };
}

bool RetryRun::WriteMerged(const std::string& outputPath, OutputEncoding encoding,
                           std::string* problem) {
  const std::string merged =
      std::string(EncodingStart(encoding)) +
      EncodeText(encoding, MergeRetried(*layout_, earlier_, retried_, lines_));
  if (outputPath == kStandardStream) {
    SetBinaryMode(stdout);
    if (WriteWholeFile(stdout, merged)) return true;
    *problem = LoadText(kTextOutputWriteError);
    return false;
  }
  // OUTPUT may be OLD itself: it is replaced only by a whole new file.
  const std::string newPath = outputPath + ".glimmora-new";
  UniqueFile file(std::fopen(newPath.c_str(), "wb"));
  if (!file) {
    *problem = newPath + ": " + LoadText(kTextOutputOpenError);
    return false;
  }
  const bool written = WriteWholeFile(file.get(), merged);
  if (std::fclose(file.release()) != 0 || !written || !MoveFileOver(newPath, outputPath)) {
    std::remove(newPath.c_str());
    *problem = outputPath + ": " + LoadText(kTextOutputWriteError);
    return false;
  }
  return true;
}

RetryRun::~RetryRun() {
  if (!namesPath_.empty()) std::remove(namesPath_.c_str());
}

}  // namespace glimmora::cli
