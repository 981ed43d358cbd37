#pragma once
// The corpus of real EDIDs beside the tests (tests/data/edid-corpus): each
// file a dump with the reference decoder's report below it.

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

namespace glimmora::testing {

inline const std::string kCorpusDir = GLIMMORA_TEST_DATA_DIR "/edid-corpus";

inline std::string ReadCorpusFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The text between the first and the last single quote of a report line.
inline std::string Quoted(std::string_view line) {
  const std::size_t open = line.find('\'');
  const std::size_t close = line.rfind('\'');
  if (open == std::string_view::npos || close <= open) return {};
  return std::string(line.substr(open + 1, close - open - 1));
}

}  // namespace glimmora::testing
