#pragma once
// A result file taken whole: read under a lock that keeps other batches from
// writing it, then replaced by a new file renamed over it, so that a reader
// sees the old content or the new, never part of either. The new file keeps
// the old one's mode, owner and group, and a link is followed: its target is
// what is read and replaced.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace glimmora {

class HeldFile {
 public:
  enum class Hold {
    kExclusive,  // no other batch may write or hold it (the file is to be replaced)
    kShared,     // no batch may write it while it is read
  };

  // Holds the file at `path`; null with *reason when it cannot be, among them
  // kOutputFileInUse when a batch writes it or another holds it. A file that
  // does not exist is held as none: Exists() is false, Replace creates it.
  static std::unique_ptr<HeldFile> Open(const std::string& path, Hold hold, std::string* reason);
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  bool Exists() const { return handle_ != kNoHandle; }
  // The file itself: links followed.
  const std::string& Path() const { return path_; }
  // The whole content; false with *reason when it cannot be read.
  bool Read(std::string* bytes, std::string* reason);
  // Puts `bytes` in the file's place; false with *reason, the file as it was.
  bool Replace(std::string_view bytes, std::string* reason);

 private:
  static constexpr std::intptr_t kNoHandle = -1;
  HeldFile(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}
  void Release();

  std::string path_;
  std::intptr_t handle_;
};

// The file at `path` replaced as HeldFile::Replace does, without holding it:
// for a file of the program's own (the counts of a batch, its run record).
bool ReplaceWholeFile(const std::string& path, std::string_view bytes, std::string* reason);

// Whether two paths name one file: the same file (through links too), or the
// same path where it does not exist yet.
bool SameFile(const std::string& first, const std::string& second);

}  // namespace glimmora
