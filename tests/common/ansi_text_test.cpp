#include "common/ansi_text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace glimmora
