#include "cli/batch_modes.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

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
  services->workstationWritten =
      [summary](const std::string& workstation, const std::vector<std::string>& lines,
                WorkstationResult result, std::chrono::steady_clock::duration took) {
        if (lines.empty()) return;
        summary->Add(workstation, result, lines.size(), took);
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
  std::string reason;
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
  summary->keptFromEarlierRun = plan.workstationsDone;
  *keptBytes = plan.keptBytes;
  return true;
}

bool RetryRun::Read(const std::string& oldPath, const ResultLayout& layout, bool encodingGiven,
                    OutputEncoding* encoding, std::string* problem) {
  layout_ = &layout;
  std::string bytes;
  std::string reason;
  if (!ReadWholeFile(oldPath, &bytes, &reason)) {
    *problem = FileProblem(kTextInputOpenError, oldPath, reason);
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
  std::string names;
  for (std::size_t place : retried_) names += earlier_.workstations[place].workstation + "\n";
  errno = 0;
  UniqueFile file(std::fopen(namesPath_.c_str(), "wb"));
  if (!file) {
    *problem = FileProblem(kTextOutputOpenError, namesPath_, FileErrorReason(namesPath_, errno));
    return false;
  }
  const bool written = WriteWholeFile(file.get(), names);
  if (std::fclose(file.release()) != 0 || !written) {
    *problem = FileProblem(kTextOutputWriteError, namesPath_, FileErrorReason(namesPath_, errno));
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
  services->workstationWritten =
      [this, counted](const std::string& workstation, const std::vector<std::string>& lines,
                      WorkstationResult result, std::chrono::steady_clock::duration took) {
        if (counted) counted(workstation, lines, result, took);
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
    *problem = FileProblem(kTextOutputWriteError, "standard output", FileErrorReason({}, errno));
    return false;
  }
  // OUTPUT may be OLD itself: it is replaced only by a whole new file, and
  // not while another batch writes it (that batch's lines would go to the
  // file this one takes the place of). Its lock is held up to the rename
  // where the system allows; Windows renames over no file held open.
  std::string reason;
  std::unique_ptr<OutputStream> held;
  std::error_code sizeError;
  if (const std::uintmax_t size = std::filesystem::file_size(outputPath, sizeError); !sizeError) {
    held = OpenOutputFileKeeping(outputPath, size, &reason);
    if (!held) {
      *problem = FileProblem(kTextOutputOpenError, outputPath, reason);
      return false;
    }
#ifdef _WIN32
    held.reset();
#endif
  }
  const std::string newPath = outputPath + ".glimmora-new";
  errno = 0;
  UniqueFile file(std::fopen(newPath.c_str(), "wb"));
  if (!file) {
    *problem = FileProblem(kTextOutputOpenError, newPath, FileErrorReason(newPath, errno));
    return false;
  }
  const bool written = WriteWholeFile(file.get(), merged);
  const bool closed = std::fclose(file.release()) == 0;
  if (!written || !closed) {
    *problem = FileProblem(kTextOutputWriteError, newPath, FileErrorReason(newPath, errno));
    std::remove(newPath.c_str());
    return false;
  }
  if (!MoveFileOver(newPath, outputPath, &reason)) {
    *problem = FileProblem(kTextOutputWriteError, outputPath, reason);
    std::remove(newPath.c_str());
    return false;
  }
  return true;
}

RetryRun::~RetryRun() {
  if (!namesPath_.empty()) std::remove(namesPath_.c_str());
}

}  // namespace glimmora::cli
