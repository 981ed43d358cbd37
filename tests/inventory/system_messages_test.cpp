#include <gtest/gtest.h>

#include "inventory/system_messages.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

TEST(SystemMessagesTest, TableHoldsTheBackEndCodesInBothLanguages) {
  for (long code : {2L, 5L, 50L, 53L, 123L, 234L, 259L, 1009L, 1326L, 1722L}) {
    EXPECT_FALSE(SystemMessageTableText(code, Language::kEnglish).empty()) << code;
    EXPECT_FALSE(SystemMessageTableText(code, Language::kJapanese).empty()) << code;
  }
  EXPECT_EQ(SystemMessageTableText(1009, Language::kEnglish),
            "The configuration registry database is corrupt.");
  EXPECT_EQ(SystemMessageTableText(53, Language::kJapanese), "ネットワーク パスが見つかりません。");
  EXPECT_TRUE(SystemMessageTableText(424242, Language::kEnglish).empty());
}

// Whatever gives it, the text is one line that fits the 258-character field.
TEST(SystemMessagesTest, LocalTextIsOneShortLine) {
  testing::EnglishMessages english;
  for (long code : {2L, 5L, 53L, 1009L}) {
    const std::string text = LocalSystemMessageText(code);
    EXPECT_FALSE(text.empty()) << code;
    EXPECT_LE(text.size(), 258u);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    EXPECT_NE(text.back(), ' ');
  }
#ifndef _WIN32
  EXPECT_EQ(LocalSystemMessageText(5), "Access is denied.");
  EXPECT_EQ(LocalSystemMessageText(424242), "");
#endif
}

}  // namespace
}  // namespace glimmora
