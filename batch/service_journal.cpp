#include "batch/service_journal.h"

#include <cerrno>
#include <ctime>
#include <deque>
#include <map>

namespace glimmora {

namespace {

constexpr std::string_view kJournalFirstLine = "glimmora service journal 1";

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  for (;;) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) return fields;
    line.remove_prefix(tab + 1);
  }
}

}  // namespace

bool ReadPendingRestores(std::string_view text, std::vector<PendingRestore>* pending) {
  pending->clear();
  if (text.empty()) return true;
  // Begun, not yet done, per workstation in order; and the order of all.
  std::map<std::string, std::deque<std::size_t>, std::less<>> open;
  std::vector<PendingRestore> begun;
  std::vector<bool> closed;
  bool first = true;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    // A line cut off by the end of the program is no record.
    if (end == std::string_view::npos) break;
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (first) {
      if (line != kJournalFirstLine) return false;
      first = false;
      continue;
    }
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() >= 3 && fields[0] == "begin") {
      PendingRestore restore{std::string(fields[1]), {}};
      restore.change.started = true;
      restore.change.enabled = fields[2] == "disabled";
      open[restore.workstation].push_back(begun.size());
      begun.push_back(std::move(restore));
      closed.push_back(false);
    } else if (fields.size() >= 2 && fields[0] == "done") {
      const auto found = open.find(fields[1]);
      if (found == open.end() || found->second.empty()) continue;
      closed[found->second.front()] = true;
      found->second.pop_front();
    } else {
      return false;
    }
  }
  if (first) return false;
  for (std::size_t i = 0; i < begun.size(); ++i)
    if (!closed[i]) pending->push_back(std::move(begun[i]));
  return true;
}

std::unique_ptr<ServiceJournalFile> ServiceJournalFile::Open(const std::string& path,
                                                             std::vector<PendingRestore>* pending,
                                                             std::string* reason) {
  std::string text;
  errno = 0;
  if (UniqueFile existing(std::fopen(path.c_str(), "rb")); existing) {
    char buffer[64 * 1024];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, existing.get())) > 0)
      text.append(buffer, count);
    if (std::ferror(existing.get()) != 0) {
      *reason = FileErrorReason(path, errno != 0 ? errno : EIO);
      return nullptr;
    }
  } else if (errno != ENOENT) {
    *reason = FileErrorReason(path, errno);
    return nullptr;
  }
  if (!ReadPendingRestores(text, pending)) {
    *reason = "not a Glimmora service journal";
    return nullptr;
  }
  errno = 0;
  UniqueFile file(std::fopen(path.c_str(), "ab"));
  if (!file) {
    *reason = FileErrorReason(path, errno);
    return nullptr;
  }
  std::unique_ptr<ServiceJournalFile> journal(new ServiceJournalFile(path, std::move(file)));
  // A record cut off by the end of an earlier run is ended first.
  if (!text.empty() && text.back() != '\n' && !journal->Append("", reason)) return nullptr;
  if (text.empty() && !journal->Append(std::string(kJournalFirstLine), reason)) return nullptr;
  return journal;
}

bool ServiceJournalFile::Append(const std::string& line, std::string* reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string record = line + "\n";
  errno = 0;
  if (std::fwrite(record.data(), 1, record.size(), file_.get()) == record.size() &&
      FlushToDisk(file_.get()))
    return true;
  *reason = FileErrorReason(path_, errno != 0 ? errno : EIO);
  return false;
}

bool ServiceJournalFile::Begin(const std::string& workstation, const ServiceChange& planned,
                               std::string* reason) {
  return Append(
      "begin\t" + workstation + "\t" + (planned.enabled ? "disabled" : "stopped") + "\t" + UtcNow(),
      reason);
}

bool ServiceJournalFile::Done(const std::string& workstation, std::string* reason) {
  return Append("done\t" + workstation, reason);
}

}  // namespace glimmora
