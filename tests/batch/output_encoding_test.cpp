// What the result file holds in each encoding: a UTF-8 file is valid UTF-8
// whatever bytes the program's text came with, the ANSI file keeps them, a
// JSON line's name reads back as the writer replaced it, and a failed write
// keeps the system's reason.
#include "batch/output_encoding.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "batch/json_format.h"

#include "inventory/ansi_conversion.h"
#include "tests/batch/limited_output.h"
#include "tests/support/batch_files.h"

namespace glimmora {
namespace {

using testing::LimitedOutput;
using testing::ReadBytes;
using testing::TempDir;

const std::string kReplacement = "\xEF\xBF\xBD";

// Texts as an EDID name or a REGEDIT4 export may bring them, and their UTF-8
// with what is no UTF-8 replaced.
const struct {
  const char* what;
  std::string text;
  std::string valid;
} kTexts[] = {
    {"ASCII and whole sequences", "PC-01 \xC3\x89 \xE2\x82\xAC \xF0\x9F\x96\xA5",
     "PC-01 \xC3\x89 \xE2\x82\xAC \xF0\x9F\x96\xA5"},
    {"a Latin-1 byte", "CAF\xC9-01", "CAF" + kReplacement + "-01"},
    {"a sequence cut short by ASCII",
     "A\xE2\x82"
     "B",
     "A" + kReplacement + "B"},
    {"a sequence cut short by the end", "A\xF0\x9F\x96", "A" + kReplacement},
    {"stray continuation bytes", "\x80\xBF", kReplacement + kReplacement},
    {"overlong forms", "\xC0\xAF\xE0\x80\xAF",
     kReplacement + kReplacement + kReplacement + kReplacement + kReplacement},
    {"a surrogate", "\xED\xA0\x80", kReplacement + kReplacement + kReplacement},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80",
     kReplacement + kReplacement + kReplacement + kReplacement},
    {"bytes UTF-8 never has", "\xFE\xFF", kReplacement + kReplacement},
};

TEST(OutputEncoding, UnicodeFilesHoldValidUtf8AndTheAnsiFileKeepsTheBytes) {
  for (const auto& t : kTexts) {
    EXPECT_EQ(ValidUtf8(t.text), t.valid) << t.what;
    EXPECT_EQ(EncodeText(OutputEncoding::kAnsi, t.text), t.text) << t.what;
    for (OutputEncoding encoding : {OutputEncoding::kUtf8, OutputEncoding::kUtf8Bom}) {
      const std::string encoded = EncodeText(encoding, t.text);
      EXPECT_EQ(ValidUtf8(encoded), encoded) << t.what;
#ifndef _WIN32
      // The program's text is UTF-8 here: what is, stays; the rest is replaced.
      EXPECT_EQ(encoded, t.valid) << t.what;
#endif
    }
  }
}

// PlanResume matches INPUT's names to a JSON file by the name the writer wrote.
TEST(OutputEncoding, AJsonLinesNameReadsBackAsTheWriterReplacedIt) {
  const JsonLinesResultFormat layout;
  for (const auto& t : kTexts) {
    const std::optional<ResultLine> line = layout.Read(
        layout.ReasonLine(t.text, WorkstationResult::kNotFound, "x", ServiceHandling::kNotNeeded));
    ASSERT_TRUE(line) << t.what;
    EXPECT_EQ(line->workstation, layout.WrittenName(t.text)) << t.what;
#ifndef _WIN32
    EXPECT_EQ(line->workstation, t.valid) << t.what;
#endif
  }
}

TEST(OutputEncoding, TheMarkGoesFirstOnceAndAFullDiskKeepsItsReason) {
  TempDir dir;
  const std::string path = dir.File("out.csv");
  // Room for the mark, the first line and one byte more.
  auto disk = std::make_unique<LimitedOutput>(OpenOutputFile(path), 10, "No space left on device");
  std::unique_ptr<OutputStream> output =
      EncodingOutput(std::move(disk), OutputEncoding::kUtf8Bom, true);
  EXPECT_EQ(output->Write("PC01\r\n"), 6u);
  EXPECT_EQ(output->FailureReason(), "");
  EXPECT_EQ(output->Write("PC02\r\n"), 0u);
  EXPECT_EQ(output->FailureReason(), "No space left on device");
  EXPECT_TRUE(output->Close());
  EXPECT_EQ(ReadBytes(path), "\xEF\xBB\xBFPC01\r\nP");
}

}  // namespace
}  // namespace glimmora
