#include <gtest/gtest.h>

#include "cli/display_width.h"

namespace glimmora::cli {
namespace {

TEST(DisplayWidthTest, CountsWideCharactersTwice) {
  EXPECT_EQ(DisplayWidth(""), 0u);
  EXPECT_EQ(DisplayWidth("Monitor ID"), 10u);
#ifndef _WIN32
  EXPECT_EQ(DisplayWidth("モニタ識別"), 10u);       // katakana and kanji
  EXPECT_EQ(DisplayWidth("ＡＢ"), 4u);              // fullwidth forms
  EXPECT_EQ(DisplayWidth("ｶﾀｶﾅ"), 4u);              // halfwidth katakana stay narrow
  EXPECT_EQ(DisplayWidth("Ä é"), 3u);               // Latin letters are narrow
  EXPECT_EQ(DisplayWidth("한국어"), 6u);            // Hangul syllables
  EXPECT_EQ(DisplayWidth("\xF0\xA0\x80\x80"), 2u);  // CJK extension B
#endif
}

TEST(DisplayWidthTest, ControlCharactersCannotReachTheTerminal) {
  EXPECT_EQ(PrintableText("plain \"text\""), "plain \"text\"");
  EXPECT_EQ(PrintableText("a\x1b[2Jb\r\n\x7f"), "a?[2Jb???");
#ifndef _WIN32
  EXPECT_EQ(PrintableText("x\xC2\x9B"
                          "31m"),
            "x?31m");  // C1 CSI encoded as UTF-8
  EXPECT_EQ(PrintableText("汎用 ©"), "汎用 ©");
#endif
}

TEST(DisplayWidthTest, ShortTextsAreCutBetweenCharacters) {
  EXPECT_EQ(ShortPrintableText("PC01", 4), "PC01");
  EXPECT_EQ(ShortPrintableText("PC01\x1b", 8), "PC01?");
  EXPECT_EQ(ShortPrintableText("PC012345", 4), "PC01...");
  EXPECT_EQ(ShortPrintableText(std::string(100000000, 'y'), 256), std::string(256, 'y') + "...");
#ifndef _WIN32
  // Three bytes a character: the second would end after the limit of 5.
  EXPECT_EQ(ShortPrintableText("汎用機", 5), "汎...");
  EXPECT_EQ(ShortPrintableText("汎用機", 6), "汎用...");
#endif
}

}  // namespace
}  // namespace glimmora::cli
