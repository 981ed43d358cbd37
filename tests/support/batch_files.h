#pragma once
// Files and CSV reading for the tests that run a batch and read its result.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace glimmora::testing {

inline int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return static_cast<int>(getpid());
#endif
}

// A fresh directory under the system's temporary directory, removed at the end.
// The process id keeps two runs of the same test (two builds, two languages,
// two checkouts on one machine) out of each other's files.
class TempDir {
 public:
  TempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "glimmora-test-";
    if (info != nullptr) name += std::string(info->test_suite_name()) + "-" + info->name();
    name += "-" + std::to_string(ProcessId());
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::string File(std::string_view name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The fields of one CSV line (without its line end) as a spreadsheet reads
// them: a field that begins with a double quote runs to the closing quote, a
// doubled quote inside standing for one.
inline std::vector<std::string> ParseCsvLine(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  bool atFieldStart = true;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"' && atFieldStart) {
      quoted = true;
      atFieldStart = false;
    } else if (c == ',') {
      fields.emplace_back();
      atFieldStart = true;
    } else {
      fields.back() += c;
      atFieldStart = false;
    }
  }
  return fields;
}

// The lines of a result file, each without its CR LF; fails the test when a
// line does not end in CR LF.
inline std::vector<std::string> SplitResultLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string_view::npos) {
      ADD_FAILURE() << "line without CR LF: " << bytes.substr(start);
      lines.emplace_back(bytes.substr(start));
      break;
    }
    lines.emplace_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// The header line, then the lines of each workstation in one piece (the
// lines in a row that begin with the same name), each line with its CR LF.
inline std::vector<std::string> WorkstationGroups(const std::string& file) {
  std::vector<std::string> groups;
  std::string lastName;
  for (std::size_t start = 0; start < file.size();) {
    const std::size_t end = file.find("\r\n", start) + 2;
    const std::string line = file.substr(start, end - start);
    const std::string name = line.substr(0, line.find(','));
    if (start == 0 || name != lastName)
      groups.push_back(line);
    else
      groups.back() += line;
    lastName = start == 0 ? std::string() : name;
    start = end;
  }
  return groups;
}

// The source tree, where the examples and the test data are.
inline const std::string kSourceDir = GLIMMORA_SOURCE_DIR;

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace glimmora::testing
