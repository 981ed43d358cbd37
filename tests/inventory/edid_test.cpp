#include "inventory/edid/edid.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>
#include <vector>

#include "inventory/edid/edid_base_block.h"
#include "tests/support/time_zone.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace glimmora {
namespace {

using testing::ScopedTimeZone;

constexpr std::size_t kBlockSize = 128;

std::vector<std::uint8_t> ZeroBlock() {
  return std::vector<std::uint8_t>(kBlockSize, 0);
}

// A display descriptor at `offset`: 00 00 00 tag, the reserved byte, then up
// to 13 text bytes (the rest stays zero unless `text` fills it).
void PutDescriptor(std::vector<std::uint8_t>& block, std::size_t offset, std::uint8_t tag,
                   std::string_view text, std::uint8_t reserved = 0) {
  block[offset + 3] = tag;
  block[offset + 4] = reserved;
  for (std::size_t i = 0; i < text.size() && i < 13; ++i)
    block[offset + 5 + i] = static_cast<std::uint8_t>(text[i]);
}

// 13 text bytes the way monitors fill them: text, a line feed, blanks.
std::string Padded(std::string_view text) {
  std::string padded(text);
  padded += '\n';
  padded.resize(13, ' ');
  return padded;
}

std::string DateOf(int week, int yearByte) {
  auto block = ZeroBlock();
  block[16] = static_cast<std::uint8_t>(week);
  block[17] = static_cast<std::uint8_t>(yearByte);
  return DecodeEdid(block).mfgDate;
}

std::string SizeOf(int width, int height) {
  auto block = ZeroBlock();
  block[21] = static_cast<std::uint8_t>(width);
  block[22] = static_cast<std::uint8_t>(height);
  return DecodeEdid(block).monitorSize;
}

TEST(EdidDate, WeeksCountFromTheFirstOfJanuary) {
  ScopedTimeZone zone(testing::kZoneUtc);
  EXPECT_EQ(DateOf(1, 18), "2008/1");
  EXPECT_EQ(DateOf(10, 18), "2008/3");
  EXPECT_EQ(DateOf(52, 18), "2008/12");
  EXPECT_EQ(DateOf(53, 18), "2008/12");
  EXPECT_EQ(DateOf(54, 18), "2009/1");
}

TEST(EdidDate, SpecialWeekValuesAreOrdinaryNumbers) {
  ScopedTimeZone zone(testing::kZoneUtc);
  EXPECT_EQ(DateOf(0, 18), "2007/12");  // seven days before 1 January
  EXPECT_EQ(DateOf(255, 18), "2012/11");
}

TEST(EdidDate, WholeYearRangeConverts) {
  ScopedTimeZone zone(testing::kZoneUtc);
  EXPECT_EQ(DateOf(0, 0), "1989/12");
  EXPECT_EQ(DateOf(0, 255), "2244/12");
  EXPECT_EQ(DateOf(255, 255), "2249/11");
}

// West of Greenwich: a base taken in UTC would put week 1 into December.
TEST(EdidTimeZone, NorthernZoneWithSummerTime) {
  ScopedTimeZone zone(testing::kZoneNewYork);
  EXPECT_EQ(DateOf(1, 18), "2008/1");
  EXPECT_EQ(DateOf(0, 18), "2007/12");
  // 26 weeks after midnight, 1 January 2008: 1 July 01:00 summer time.
  EXPECT_EQ(DateOf(27, 18), "2008/7");
}

// East of Greenwich: the result read back in UTC would fall into December.
TEST(EdidTimeZone, ZoneEastOfGreenwich) {
  ScopedTimeZone zone(testing::kZoneTokyo);
  EXPECT_EQ(DateOf(1, 18), "2008/1");
  EXPECT_EQ(DateOf(10, 18), "2008/3");
}

void ExpectSouthernHemisphereDates() {
  // Summer time on 1 January, none in July: 26 weeks of seconds after
  // midnight, 1 January 2008 (a leap year), is 30 June 23:00.
  EXPECT_EQ(DateOf(27, 18), "2008/6");
  // In 2009, not a leap year, the same week lands on 1 July 23:00.
  EXPECT_EQ(DateOf(27, 19), "2009/7");
  EXPECT_EQ(DateOf(1, 18), "2008/1");
}

#ifndef _WIN32
TEST(EdidTimeZone, SouthernHemisphereSummerTime) {
  ScopedTimeZone zone("Australia/Sydney");
  ExpectSouthernHemisphereDates();
}
#endif
// The Windows C runtime's TZ variable knows only US daylight-saving dates and
// cannot describe a southern zone; there the case runs as the test below,
// with Sydney as the system's own zone.

// Runs only in the "sydney" run (see CMakeLists.txt), whose environment makes
// Australia/Sydney the zone of the whole process: on Windows the system zone,
// which Wine takes from the host's TZ when the process starts.
TEST(EdidSystemTimeZone, SouthernHemisphereSummerTime) {
  const char* expected = std::getenv("GLIMMORA_EXPECT_SYSTEM_TZ");
  if (expected == nullptr) GTEST_SKIP() << "GLIMMORA_EXPECT_SYSTEM_TZ is not set";
#ifdef _WIN32
  // The runtime would read the inherited TZ=Australia/Sydney as a zone of its
  // own notation; without TZ it follows the system's zone.
  ScopedTimeZone zone(nullptr);
  TIME_ZONE_INFORMATION info{};
  GetTimeZoneInformation(&info);
  ASSERT_EQ(info.Bias, -600) << "the system time zone is not Sydney's";
#else
  ScopedTimeZone zone(expected);
#endif
  ExpectSouthernHemisphereDates();
}

TEST(EdidSize, DiagonalInInchesWithOneDecimal) {
  EXPECT_EQ(SizeOf(34, 27), "W:34cm x H:27cm (17.1\")");
  EXPECT_EQ(SizeOf(0, 0), "W:0cm x H:0cm (0.0\")");
  EXPECT_EQ(SizeOf(255, 255), "W:255cm x H:255cm (142.0\")");
  EXPECT_EQ(SizeOf(1, 0), "W:1cm x H:0cm (0.4\")");
}

TEST(EdidSize, DivisionInDoublePrecision) {
  // 200.025 / 2.54 lies just below 78.75; divided in single precision it
  // would round up to 78.8.
  EXPECT_EQ(SizeOf(71, 187), "W:71cm x H:187cm (78.7\")");
  EXPECT_EQ(SizeOf(187, 71), "W:187cm x H:71cm (78.7\")");
}

TEST(EdidVersion, VersionDotRevision) {
  auto block = ZeroBlock();
  block[18] = 1;
  block[19] = 3;
  EXPECT_EQ(DecodeEdid(block).edidVersion, "1.3");
  block[18] = 2;
  block[19] = 0;
  EXPECT_EQ(DecodeEdid(block).edidVersion, "2.0");
  block[18] = 255;
  block[19] = 255;
  EXPECT_EQ(DecodeEdid(block).edidVersion, "255.255");
}

TEST(EdidDescriptors, TextEndsAtTheLineFeedAndIsTrimmed) {
  auto block = ZeroBlock();
  PutDescriptor(block, 72, 0xFC, Padded("ABC 123"));
  PutDescriptor(block, 90, 0xFF, "  \tSN 42 \r\v\f");
  const EdidFields fields = DecodeEdid(block);
  EXPECT_EQ(fields.model, "ABC 123");
  EXPECT_EQ(fields.serialNumber, "SN 42");
}

TEST(EdidDescriptors, ThirteenCharactersWithoutLineFeed) {
  auto block = ZeroBlock();
  PutDescriptor(block, 108, 0xFF, "ABCDEFGHIJKLM");
  EXPECT_EQ(DecodeEdid(block).serialNumber, "ABCDEFGHIJKLM");
}

TEST(EdidDescriptors, ReservedByteKeptUnlessZero) {
  auto block = ZeroBlock();
  PutDescriptor(block, 54, 0xFC, Padded("YZ"), 'X');
  PutDescriptor(block, 72, 0xFF, Padded("12"), '\n');  // a line feed there ends the text
  EXPECT_EQ(DecodeEdid(block).model, "XYZ");
  EXPECT_EQ(DecodeEdid(block).serialNumber, "");
}

TEST(EdidDescriptors, ZeroByteEndsTheText) {
  auto block = ZeroBlock();
  PutDescriptor(block, 54, 0xFC, std::string_view("AB\0CD\n", 6));
  EXPECT_EQ(DecodeEdid(block).model, "AB");
}

TEST(EdidDescriptors, EightBitTextUnchanged) {
  auto block = ZeroBlock();
  PutDescriptor(block, 54, 0xFC,
                Padded("\xC9"
                       "cran"));
  EXPECT_EQ(DecodeEdid(block).model,
            "\xC9"
            "cran");
}

TEST(EdidDescriptors, LastDescriptorOfATagWinsEvenWhenBlank) {
  auto block = ZeroBlock();
  PutDescriptor(block, 54, 0xFC, Padded("FIRST"));
  PutDescriptor(block, 72, 0xFF, Padded("SERIAL"));
  PutDescriptor(block, 90, 0xFC, Padded("SECOND"));
  EXPECT_EQ(DecodeEdid(block).model, "SECOND");
  PutDescriptor(block, 108, 0xFC, "             ");
  const EdidFields fields = DecodeEdid(block);
  EXPECT_EQ(fields.model, "");
  EXPECT_EQ(fields.serialNumber, "SERIAL");
}

TEST(EdidDescriptors, OnlyTheTwoTextTagsAfterThreeZeroBytes) {
  auto block = ZeroBlock();
  PutDescriptor(block, 54, 0xFE, Padded("ALPHA"));  // unspecified text
  PutDescriptor(block, 72, 0xFD, Padded("LIMITS"));
  PutDescriptor(block, 90, 0xFC, Padded("TIMING"));
  block[90] = 0x01;  // a detailed timing: pixel clock not zero
  const EdidFields fields = DecodeEdid(block);
  EXPECT_EQ(fields.model, "");
  EXPECT_EQ(fields.serialNumber, "");
}

TEST(EdidBlock, AllZeroBytes) {
  ScopedTimeZone zone(testing::kZoneUtc);
  const EdidFields fields = DecodeEdid(ZeroBlock());
  EXPECT_EQ(fields.model, "");
  EXPECT_EQ(fields.serialNumber, "");
  EXPECT_EQ(fields.monitorSize, "W:0cm x H:0cm (0.0\")");
  EXPECT_EQ(fields.edidVersion, "0.0");
  EXPECT_EQ(fields.mfgDate, "1989/12");
}

void ExpectSameFields(const EdidFields& a, const EdidFields& b) {
  EXPECT_EQ(a.model, b.model);
  EXPECT_EQ(a.serialNumber, b.serialNumber);
  EXPECT_EQ(a.monitorSize, b.monitorSize);
  EXPECT_EQ(a.mfgDate, b.mfgDate);
  EXPECT_EQ(a.edidVersion, b.edidVersion);
}

std::vector<std::uint8_t> SampleBlock() {
  auto block = ZeroBlock();
  block[16] = 23;
  block[17] = 32;
  block[18] = 1;
  block[19] = 3;
  block[21] = 70;
  block[22] = 39;
  PutDescriptor(block, 90, 0xFF, Padded("2NQHQD3"));
  PutDescriptor(block, 108, 0xFC, "DELL S3222HN\n");
  return block;
}

TEST(EdidBlock, ShortBlockReadsAsZeroFilled) {
  ScopedTimeZone zone(testing::kZoneUtc);
  const auto full = SampleBlock();
  for (std::size_t length : {0u, 17u, 100u, 115u, 125u, 126u, 127u}) {
    SCOPED_TRACE(length);
    const std::vector<std::uint8_t> cut(full.begin(), full.begin() + length);
    auto padded = cut;
    padded.resize(kBlockSize, 0);
    ExpectSameFields(DecodeEdid(cut), DecodeEdid(padded));
  }
  // The name descriptor cut inside its text keeps what is there.
  const std::vector<std::uint8_t> cut(full.begin(), full.begin() + 120);
  EXPECT_EQ(DecodeEdid(cut).model, "DELL S3");
}

TEST(EdidBlock, ExtensionBlocksPlayNoPart) {
  ScopedTimeZone zone(testing::kZoneUtc);
  auto block = SampleBlock();
  const EdidFields base = DecodeEdid(block);
  EXPECT_EQ(base.model, "DELL S3222HN");
  EXPECT_EQ(base.serialNumber, "2NQHQD3");
  EXPECT_EQ(base.monitorSize, "W:70cm x H:39cm (31.5\")");
  EXPECT_EQ(base.mfgDate, "2022/6");
  EXPECT_EQ(base.edidVersion, "1.3");
  block.resize(3 * kBlockSize, 0);
  PutDescriptor(block, 128 + 54, 0xFC, Padded("EXTENSION"));
  ExpectSameFields(DecodeEdid(block), base);
}

}  // namespace
}  // namespace glimmora

namespace glimmora {
namespace {

// The fields as stored: numbers at their offsets, the descriptors' bytes 4 to
// 17 untouched (reserved byte, line feed and padding included), the last of
// each tag, none for a tag that is absent, and a short block read as zero-padded.
TEST(EdidBaseBlock, ReadsTheStoredFieldsAsNumbersAndRawBytes) {
  std::vector<std::uint8_t> block = ZeroBlock();
  block[16] = 0xFF;  // model year
  block[17] = 35;
  block[18] = 1;
  block[19] = 4;
  block[21] = 70;
  block[22] = 39;
  PutDescriptor(block, 54, 0xFC, "FIRST");
  PutDescriptor(block, 72, 0xFC, Padded("DELL U2722D"), 0x20);
  PutDescriptor(block, 90, 0x10, "");  // a dummy descriptor: neither text
  block[108] = 1;                      // a detailed timing, not a descriptor
  block[108 + 3] = 0xFF;

  const EdidBaseBlock fields = DecodeEdidBaseBlock(block);
  EXPECT_EQ(fields.manufactureWeek, 0xFF);
  EXPECT_EQ(fields.manufactureYear, 2025);
  EXPECT_EQ(fields.version, 1);
  EXPECT_EQ(fields.revision, 4);
  EXPECT_EQ(fields.widthCm, 70);
  EXPECT_EQ(fields.heightCm, 39);
  ASSERT_TRUE(fields.displayNameBytes.has_value());
  EXPECT_EQ(*fields.displayNameBytes, std::string(" DELL U2722D\n "));
  EXPECT_FALSE(fields.serialNumberBytes.has_value());

  const std::vector<std::uint8_t> shortBlock(block.begin(), block.begin() + 80);
  const EdidBaseBlock cut = DecodeEdidBaseBlock(shortBlock);
  EXPECT_EQ(cut.widthCm, 70);
  ASSERT_TRUE(cut.displayNameBytes.has_value());
  EXPECT_EQ(*cut.displayNameBytes, std::string(" DEL") + std::string(10, '\0'));
}

}  // namespace
}  // namespace glimmora
