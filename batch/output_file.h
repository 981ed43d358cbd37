#pragma once
// The batch's output: result lines, each workstation's handed over in one
// write, to a file no other batch writes at the same time.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace glimmora {

// Where result lines go. The real file is OutputFile; tests put a stream in
// between that accepts fewer bytes, to make a write fail where they want it.
class OutputStream {
 public:
  virtual ~OutputStream() = default;
  // Hands the bytes over; gives how many were accepted.
  virtual std::size_t Write(std::string_view bytes) = 0;
  // Writes out whatever is still buffered and closes; false when bytes that
  // were accepted could not reach the file.
  virtual bool Close() = 0;
  // The system's reason for the last write or close that failed; empty when
  // there is none to give.
  virtual std::string FailureReason() const { return {}; }
};

// The result file itself, unbuffered: each Write goes to the system at once,
// so what a batch has written is on disk whatever ends the program later, and
// a workstation's lines handed over in one Write never reach it in part
// (short of a full disk). The file stays locked against other writers until
// it is closed.
class OutputFile : public OutputStream {
 public:
  // The platform's handle: a file descriptor, or a Windows file handle.
  explicit OutputFile(std::intptr_t handle) noexcept : handle_(handle) {}
  ~OutputFile() override;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  std::size_t Write(std::string_view bytes) override;
  bool Close() override;
  std::string FailureReason() const override { return failureReason_; }

 private:
  std::intptr_t handle_;
  std::string failureReason_;
};

// Creates or truncates the file, locked so that no other batch writes it at
// the same time; null when that is not possible, with *reason (when given)
// saying why. A file another batch holds is refused before it is truncated,
// so its content stays as that batch writes it.
std::unique_ptr<OutputStream> OpenOutputFile(const std::string& path,
                                             std::string* reason = nullptr);
// The same for going on with the file: its first keptBytes stay, and what is
// written goes after them.
std::unique_ptr<OutputStream> OpenOutputFileKeeping(const std::string& path,
                                                    std::uint64_t keptBytes,
                                                    std::string* reason = nullptr);
// The reason OpenOutputFile gives for a file another program holds locked.
inline constexpr std::string_view kOutputFileInUse = "in use by another batch";

// 0 when every byte of the line was accepted in one write, -1 otherwise; the
// bytes accepted stay in the file.
inline int WriteOutputLine(OutputStream& output, std::string_view line) {
  return output.Write(line) == line.size() ? 0 : -1;
}
}  // namespace glimmora
