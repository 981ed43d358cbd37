#include "common/ansi_text.h"

#include <gtest/gtest.h>

#include <string>

#include "common/utf8.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace glimmora {
namespace {

TEST(CompareNoCase, FoldsAsciiLettersOnly) {
  EXPECT_EQ(CompareNoCase("Dell U2412M", "DELL u2412m"), 0);
  EXPECT_LT(CompareNoCase("abc", "ABD"), 0);
  EXPECT_GT(CompareNoCase("b", "A"), 0);
  // '_' (0x5F) lies between the upper and lower case letters; letters compare
  // as lower case, so it sorts before every letter.
  EXPECT_LT(CompareNoCase("_", "A"), 0);
  EXPECT_LT(CompareNoCase("_", "a"), 0);
}

TEST(CompareNoCase, PrefixIsSmallerAndDigitsCompareAsText) {
  EXPECT_LT(CompareNoCase("ab", "abc"), 0);
  EXPECT_GT(CompareNoCase("abc", "ab"), 0);
  EXPECT_LT(CompareNoCase("10", "9"), 0);
  EXPECT_LT(CompareNoCase("2008/10", "2008/3"), 0);
}

#ifndef _WIN32
TEST(CompareNoCase, Utf8CharactersCompareWhole) {
  EXPECT_EQ(CompareNoCase("画面サイズ", "画面サイズ"), 0);
  EXPECT_NE(CompareNoCase("画面", "画像"), 0);
  // Only ASCII folds: a multibyte sequence never equals ASCII text.
  EXPECT_NE(CompareNoCase("é", "É"), 0);
}

TEST(CharacterLength, BrokenSequencesCountOneByte) {
  EXPECT_EQ(CharacterLength("\xE3\x83\x8B"), 3u);
  EXPECT_EQ(CharacterLength("\xE3\x83"), 1u);
  EXPECT_EQ(CharacterLength("\xE3\x41"), 1u);  // a lead byte followed by 'A'
  EXPECT_EQ(CharacterLength(""), 1u);
}
#endif

#ifdef _WIN32
// Text in Shift-JIS, as a Japanese Windows keeps it: the thread's ANSI code
// page follows the thread's locale.
class ShiftJisText : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = GetThreadLocale();
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), SORT_DEFAULT));
    CPINFOEXW info{};
    ASSERT_TRUE(GetCPInfoExW(CP_THREAD_ACP, 0, &info));
    ASSERT_EQ(info.CodePage, 932u);
  }
  void TearDown() override { SetThreadLocale(previous_); }

 private:
  LCID previous_ = 0;
};

TEST_F(ShiftJisText, DoubleByteCharactersCompareWhole) {
  // U+30A2 is 83 41 and U+30C2 is 83 61: their second bytes are 'A' and 'a',
  // which must not fold.
  EXPECT_EQ(CharacterLength("\x83\x41"), 2u);
  EXPECT_NE(CompareNoCase("\x83\x41", "\x83\x61"), 0);
  EXPECT_LT(CompareNoCase("\x83\x41", "\x83\x61"), 0);
  // ASCII after a double-byte character (U+30BD, 83 5C) still folds.
  const std::string so = "\x83\x5C";
  EXPECT_EQ(CompareNoCase(so + "Ab", so + "aB"), 0);
  EXPECT_NE(CompareNoCase("\x83\x5C", "\x83\x5D"), 0);
  EXPECT_EQ(ToUpperAnsi("\x83\x61z"), "\x83\x61Z");
  EXPECT_EQ(TrimWhiteSpace(" \x83\x41 "), "\x83\x41");
}
#endif

TEST(TrimWhiteSpace, RemovesTheSixBlanksAtBothEnds) {
  EXPECT_EQ(TrimWhiteSpace(" \t\r\n\v\fPC01 \t\r\n\v\f"), "PC01");
  EXPECT_EQ(TrimWhiteSpace("  a b  "), "a b");
  EXPECT_EQ(TrimWhiteSpace(" \t "), "");
  EXPECT_EQ(TrimWhiteSpace(""), "");
}

TEST(ToUpperAnsi, UpperCasesAsciiAndKeepsTheRest) {
  EXPECT_EQ(ToUpperAnsi("pc-01;desk4"), "PC-01;DESK4");
  EXPECT_EQ(ToUpperAnsi("ws\xC3\xA9"), "WS\xC3\xA9");
}

// Every converter steps through this one reader: the edges of well-formed
// UTF-8, and how many bytes one replacement stands for where it is not.
TEST(DecodeUtf8, WellFormedSequencesAndTheBytesOfIllFormedOnes) {
  struct Case {
    std::string_view bytes;
    char32_t codePoint;
    std::size_t length;
    bool valid;
  } cases[] = {
      {"A", U'A', 1, true},
      {"\xC2\x80", 0x80, 2, true},
      {"\xE6\x97\xA5x", 0x65E5, 3, true},
      {"\xEF\xBF\xBF", 0xFFFF, 3, true},
      {"\xF0\x90\x80\x80", 0x10000, 4, true},
      {"\xF4\x8F\xBF\xBF", 0x10FFFF, 4, true},
      {"\xC0\x80", 0, 1, false},          // overlong
      {"\xE0\x80\x80", 0, 1, false},      // overlong
      {"\xF0\x8F\xBF\xBF", 0, 1, false},  // overlong
      {"\xED\xA0\x80", 0, 1, false},      // a surrogate
      {"\xF4\x90\x80\x80", 0, 1, false},  // past U+10FFFF
      {"\xF5\x80", 0, 1, false},          // no lead byte
      {"\x80", 0, 1, false},              // a stray continuation
      {"\xE6\x97", 0, 2, false},          // cut short: one replacement for both
      {"\xF0\x9F\x96x", 0, 3, false},     // broken after three
  };
  for (const Case& c : cases) {
    const Utf8Sequence sequence = DecodeUtf8(c.bytes);
    EXPECT_EQ(sequence.valid, c.valid) << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(sequence.length, c.length) << testing::PrintToString(std::string(c.bytes));
    EXPECT_EQ(sequence.codePoint, c.codePoint) << testing::PrintToString(std::string(c.bytes));
  }
}

}  // namespace
}  // namespace glimmora
