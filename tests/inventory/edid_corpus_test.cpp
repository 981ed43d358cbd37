// Decodes the 300 real EDID dumps of tests/data/edid-corpus and compares every
// field with the report of an independent decoder stored beside each dump.
// Where our rules differ from that decoder's on purpose, the file is checked
// against our rule instead and counted under the reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "inventory/edid/edid.h"
#include "inventory/edid/edid_dump.h"
#include "tests/support/edid_corpus.h"
#include "tests/support/time_zone.h"

namespace glimmora {
namespace {

using testing::kCorpusDir;
using testing::Quoted;
using testing::ReadCorpusFile;

constexpr std::size_t kCorpusFiles = 300;

std::string_view Trim(std::string_view text) {
  const char* blanks = " \t\n\v\f\r";
  const std::size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(blanks) - begin + 1);
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// What the reference report says about the base block.
struct BaseBlockReference {
  std::string version;
  bool hasSize = false;
  int width = 0;
  int height = 0;
  enum class Date { kNone, kWeekOfYear, kYearOnly, kModelYear } date = Date::kNone;
  int week = 0;
  int year = 0;
  std::vector<std::string> names;
  std::vector<std::string> serials;
};

BaseBlockReference ParseBaseBlockReference(const std::string& report) {
  BaseBlockReference ref;
  std::istringstream in(report);
  std::string raw;
  bool inBase = false;
  while (std::getline(in, raw)) {
    if (!raw.empty() && raw.back() == '\r') raw.pop_back();
    if (raw == "Block 0, Base EDID:") {
      inBase = true;
      continue;
    }
    if (!inBase) continue;
    if (StartsWith(raw, "----------------")) break;
    const std::string_view line = Trim(raw);
    if (StartsWith(line, "EDID Structure Version & Revision: ")) {
      ref.version = std::string(line.substr(35));
    } else if (StartsWith(line, "Maximum image size: ")) {
      ref.hasSize = std::sscanf(std::string(line).c_str(), "Maximum image size: %d cm x %d cm",
                                &ref.width, &ref.height) == 2;
    } else if (std::sscanf(std::string(line).c_str(), "Made in: week %d of %d", &ref.week,
                           &ref.year) == 2) {
      ref.date = BaseBlockReference::Date::kWeekOfYear;
    } else if (std::sscanf(std::string(line).c_str(), "Made in: %d", &ref.year) == 1) {
      ref.date = BaseBlockReference::Date::kYearOnly;
    } else if (std::sscanf(std::string(line).c_str(), "Model year: %d", &ref.year) == 1) {
      ref.date = BaseBlockReference::Date::kModelYear;
    } else if (StartsWith(line, "Display Product Name: ")) {
      ref.names.push_back(Quoted(line));
    } else if (StartsWith(line, "Display Product Serial Number: ")) {
      ref.serials.push_back(Quoted(line));
    }
  }
  return ref;
}

// Calendar arithmetic on days (H. Hinnant's civil-date algorithms), kept apart
// from the C library's time functions that the decoder uses.
long DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

std::string YearMonthOfDay(long z) {
  z += 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long month = mp < 10 ? mp + 3 : mp - 9;
  const long year = yoe + era * 400 + (month <= 2);
  return std::to_string(year) + "/" + std::to_string(month);
}

// In UTC, where the decoder's seconds are plain days.
std::string ExpectedDate(int year, int week) {
  return YearMonthOfDay(DaysFromCivil(year, 1, 1) + 7L * (week - 1));
}

struct Tally {
  int agreeing = 0;
  std::map<std::string, int> reasons;  // files per reason
};

// Compares one descriptor text; returns the reason when it differs on purpose.
void CompareText(const std::string& file, const char* field, const std::string& ours,
                 const std::vector<std::string>& reference, std::set<std::string>* reasons) {
  if (reference.empty()) {
    EXPECT_EQ(ours, "") << file << ": " << field << " without a descriptor";
  } else if (reference.size() > 1) {
    EXPECT_EQ(ours, Trim(reference.back())) << file << ": " << field << " of the last descriptor";
    if (ours != reference.front())
      reasons->insert(std::string("several ") + field + " descriptors: the last one wins");
  } else if (ours != reference.front()) {
    EXPECT_EQ(ours, Trim(reference.front())) << file << ": " << field;
    reasons->insert(std::string(field) + " text trimmed of blanks the reference keeps");
  }
}

TEST(EdidCorpus, AgreesWithTheReferenceDecoder) {
  testing::ScopedTimeZone zone(testing::kZoneUtc);
  std::ifstream index(kCorpusDir + "/index.tsv");
  ASSERT_TRUE(index) << "missing " << kCorpusDir << "/index.tsv";
  std::string line;
  std::getline(index, line);  // header
  Tally tally;
  std::size_t files = 0;
  while (std::getline(index, line)) {
    // file <tab> source path (may hold blanks) <tab> length in bytes
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = line.rfind('\t');
    if (tab1 == std::string::npos || tab2 == tab1) continue;
    const std::string file = line.substr(0, tab1);
    const std::size_t length = std::stoul(line.substr(tab2 + 1));
    ++files;
    SCOPED_TRACE(file);

    const std::string contents = ReadCorpusFile(kCorpusDir + "/" + file);
    std::vector<std::uint8_t> block;
    std::string error;
    ASSERT_EQ(ParseEdidDump(contents, &block, &error), 0) << file << ": " << error;
    EXPECT_EQ(block.size(), length);
    const EdidFields ours = DecodeEdid(block);
    const BaseBlockReference ref = ParseBaseBlockReference(contents);
    std::set<std::string> reasons;

    EXPECT_EQ(ours.edidVersion, ref.version);

    int width = -1;
    int height = -1;
    ASSERT_EQ(std::sscanf(ours.monitorSize.c_str(), "W:%dcm x H:%dcm", &width, &height), 2);
    // The reference leaves the line out when both bytes are zero.
    EXPECT_EQ(width, ref.hasSize ? ref.width : 0);
    EXPECT_EQ(height, ref.hasSize ? ref.height : 0);

    switch (ref.date) {
      case BaseBlockReference::Date::kWeekOfYear:
        EXPECT_EQ(ours.mfgDate, ExpectedDate(ref.year, ref.week));
        break;
      case BaseBlockReference::Date::kYearOnly:
        // Week byte 0: "no week given" to the reference, week 0 to us.
        EXPECT_EQ(ours.mfgDate, ExpectedDate(ref.year, 0));
        reasons.insert("week 0: the reference gives the year alone");
        break;
      case BaseBlockReference::Date::kModelYear:
        // Week byte 255: a model year to the reference, week 255 to us.
        EXPECT_EQ(ours.mfgDate, ExpectedDate(ref.year, 255));
        reasons.insert("week 255: the reference reads a model year");
        break;
      case BaseBlockReference::Date::kNone:
        ADD_FAILURE() << file << ": no date in the reference report";
        break;
    }

    CompareText(file, "name", ours.model, ref.names, &reasons);
    CompareText(file, "serial", ours.serialNumber, ref.serials, &reasons);

    if (reasons.empty()) ++tally.agreeing;
    for (const std::string& reason : reasons) ++tally.reasons[reason];
  }
  EXPECT_EQ(files, kCorpusFiles);

  std::printf(
      "%zu dumps: %d agree with the reference in every field; the others differ by "
      "our rules:\n",
      files, tally.agreeing);
  for (const auto& [reason, count] : tally.reasons)
    std::printf("  %3d  %s\n", count, reason.c_str());
}

}  // namespace
}  // namespace glimmora
