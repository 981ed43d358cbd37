#pragma once
// What shapes a batch's output, kept beside OUTPUT (OUTPUT.glimmora-run) while
// a run is unfinished: a resume checks that it goes on with the same options
// and the same list, which the lines themselves cannot always show (a CSV
// line does not say whether ghosts were left out, nor a list whether a name
// was added next to one of its kind).

#include <optional>
#include <string>
#include <string_view>

namespace glimmora {

struct RunRecord {
  std::string columns;  // "specified" or "extended"
  std::string format;   // "csv" or "jsonl"
  bool presentOnly = false;
  std::string pnpIds;    // the maker list's path where the output shows makers, else empty
  std::string encoding;  // "ansi", "utf-8" or "utf-8-bom"
  std::string input;     // the list's size and digest; empty when it was standard input
};

// The record file of an output.
std::string RunRecordPath(const std::string& outputPath);

// One "key=value" line each, after a first line naming the record.
std::string FormatRunRecord(const RunRecord& record);
// Nothing when the text is not a record.
std::optional<RunRecord> ParseRunRecord(std::string_view text);

// The first way `now` differs from `recorded`, as a sentence naming the
// option; empty when they agree.
std::string RunRecordMismatch(const RunRecord& recorded, const RunRecord& now);

// The list's size and a 64-bit FNV-1a digest of its bytes, as the record
// holds them; false with *reason when it cannot be read.
bool ListIdentity(const std::string& path, std::string* identity, std::string* reason);

}  // namespace glimmora
