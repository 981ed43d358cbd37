#include "inventory/edid/edid_dump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace glimmora {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Parsed {
  int result = 0;
  Bytes bytes;
  std::string error;
};

Parsed Parse(std::string_view contents) {
  Parsed parsed;
  parsed.bytes = {0xEE};  // must stay as it is on failure
  parsed.result = ParseEdidDump(contents, &parsed.bytes, &parsed.error);
  return parsed;
}

TEST(EdidDump, HexTextWithAnySpacing) {
  const Parsed parsed = Parse("00ffFFff ff ff ff 00\r\n 10 a c\t1d\n");
  ASSERT_EQ(parsed.result, 0) << parsed.error;
  EXPECT_EQ(parsed.bytes,
            (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC, 0x1D}));
}

TEST(EdidDump, LabelledSectionUpToTheFirstEmptyLine) {
  const std::string contents =
      "\nEDID (hex):\n"
      "00ffffffffffff00\n"
      "10ac1dd156543931\r\n"
      "\n"
      "edid-decode (hex):\n\n"
      "00 ff ff ff ff ff ff 00 10 ac 1d d1 56 54 39 31 17\n\n"
      "Block 0, Base EDID:\n  Made in: week 23 of 2022\n";
  const Parsed parsed = Parse(contents);
  ASSERT_EQ(parsed.result, 0) << parsed.error;
  EXPECT_EQ(parsed.bytes, (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC, 0x1D,
                                 0xD1, 0x56, 0x54, 0x39, 0x31}));
}

TEST(EdidDump, LabelledSectionWithBadHexIsAnError) {
  const Parsed stray = Parse("EDID (hex):\n00ffffffffffff00\n10ac1dd15654393g\n\nmore\n");
  EXPECT_EQ(stray.result, -1);
  EXPECT_NE(stray.error.find("'g'"), std::string::npos) << stray.error;
  EXPECT_EQ(stray.bytes, Bytes{0xEE});

  const Parsed odd = Parse("EDID (hex):\n00ffffffffffff0\n");
  EXPECT_EQ(odd.result, -1);
  EXPECT_NE(odd.error.find("odd number"), std::string::npos) << odd.error;

  const Parsed empty = Parse("report\nEDID (hex):\n\n\n");
  EXPECT_EQ(empty.result, -1);
  EXPECT_NE(empty.error.find("no EDID bytes"), std::string::npos) << empty.error;
}

TEST(EdidDump, OddHexTextIsAnError) {
  const Parsed parsed = Parse("00ff ff f\n");
  EXPECT_EQ(parsed.result, -1);
  EXPECT_NE(parsed.error.find("odd number"), std::string::npos) << parsed.error;
}

TEST(EdidDump, AnythingElseIsRawBytes) {
  const std::string raw("\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00\x10\xAC", 10);
  const Parsed binary = Parse(raw);
  ASSERT_EQ(binary.result, 0);
  EXPECT_EQ(binary.bytes, Bytes(raw.begin(), raw.end()));

  // Text that is not hex and has no labelled section is taken byte for byte.
  const Parsed text = Parse("0x00 0xff");
  ASSERT_EQ(text.result, 0);
  EXPECT_EQ(text.bytes, (Bytes{'0', 'x', '0', '0', ' ', '0', 'x', 'f', 'f'}));
}

// Bytes copied from a registry export, with or without the value name and
// "hex:", over lines that end in a backslash.
TEST(EdidDump, RegistryExportBytesAreHex) {
  const Bytes header = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x10, 0xAC};
  for (std::string_view text : {"00,ff,ff,ff,ff,ff,ff,00,10,ac", "00,FF,ff,ff,ff,ff,ff,0,10,ac,\n",
                                "\"EDID\"=hex:00,ff,ff,ff,\\\r\n  ff,ff,ff,00,\\\r\n  10,ac\r\n",
                                "  hex(3):00,ff,ff,ff,ff,ff,ff,00,10,ac"}) {
    const Parsed parsed = Parse(text);
    ASSERT_EQ(parsed.result, 0) << text << ": " << parsed.error;
    EXPECT_EQ(parsed.bytes, header) << text;
  }
  const struct {
    std::string_view text;
    std::string_view error;
  } bad[] = {
      {"00,,ff", "comma-separated hex: no byte between two commas"},
      {"00,fff,10", "comma-separated hex: 'fff' is not a byte of one or two hex digits"},
      {"00,ff\\ 10\n", "comma-separated hex: a backslash that does not end its line"},
      {"\"EDID\"=hex:", "no EDID bytes"},
  };
  for (const auto& [text, error] : bad) {
    const Parsed parsed = Parse(text);
    EXPECT_EQ(parsed.result, -1) << text;
    EXPECT_EQ(parsed.error, error) << text;
  }
  EXPECT_TRUE(HasEdidHeader(header));
  EXPECT_FALSE(HasEdidHeader(Bytes(header.begin(), header.begin() + 7)));
  EXPECT_FALSE(HasEdidHeader(Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}));
}

TEST(EdidDump, NothingToDecodeIsAnError) {
  for (std::string_view contents : {"", " \r\n\t\n"}) {
    const Parsed parsed = Parse(contents);
    EXPECT_EQ(parsed.result, -1);
    EXPECT_EQ(parsed.error, "no EDID bytes");
  }
}

}  // namespace
}  // namespace glimmora
