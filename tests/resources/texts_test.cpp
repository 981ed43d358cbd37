#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "resources/texts.h"
#include "tests/support/scoped_env.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace glimmora {
namespace {

struct ExpectedText {
  int id;
  const char* english;
  const char* japanese;
};

// The table as the program must show it, written out independently of
// texts.def. \u3000 is the ideographic space, \uFF0D the full-width hyphen-minus.
constexpr ExpectedText kExpected[] = {
    {1001, "Quick Check", "クイックチェック"},
    {1002, "Batch Process", "バッチ処理"},
    {1003, "About Glimmora", "バージョン情報"},
    {1004, "Workstation name is not specified.", "ワークステーション名が指定されていません"},
    {1005, "Input file name is not specified.", "入力ファイル名が指定されていません"},
    {1006, "Input file open error.", "入力ファイルのオープンエラー"},
    {1007, "Output file name is not specified.", "出力ファイルが指定されていません"},
    {1008, "Output file open error.", "出力ファイルのオープンエラー"},
    {1009, "Output file write error.", "出力ファイルの書き込みエラー"},
    {1010, "ICMP.DLL load error.  PING function is not available.",
     "ICMP.DLLをロードできません。\u3000オンライン確認にICMPプロトコルを利用できません。"},
    {1011, "(Error: Could not load ICMP.DLL for PING.)",
     "(エラー: オンライン確認のためのライブラリ ICMP.DLL のロードに失敗)"},
    {1012, "(Error: Could not find host ",
     "(エラー: ワークステーションの名前解決ができません \uFF0D"},
    {1013, "(Error: Insufficient Memory)", "(エラー: メモリ不足です)"},
    {1014, "Reply from ", "Reply from "},
    {1015, "(Error: Request timed out ", "(エラー: タイムアウト  "},
    {1016, "Checking... : ", "チェック中... : "},
    {1017, "Start", "スタート"},
    {1018, "Abort", "中止"},
    {1019, " has No monitor information.", " はモニタ情報を持っていません。"},
    {1020, "Workstation Name", "ワークステーション名"},
    {1021, "Monitor ID", "モニタ識別"},
    {1022, "Class", "クラス"},
    {1023, "Description", "記述"},
    {1024, "MFG", "メーカ"},
    {1025, "Hardware ID", "ハードウェア ID"},
    {1026, "Model", "モデル"},
    {1027, "Serial Number", "シリアル番号"},
    {1028, "MFG Date", "製造年月"},
    {1029, "EDID Version", "EDIDバージョン"},
    {1030, "Registry Open Error", "レジストリのオープンエラー"},
    {1031, "The batch process has been aborted by user.",
     "バッチ処理はユーザによって中止されました。"},
    {1032, "The batch process has been finished.", "バッチ処理は終了しました。"},
    {1033, "Monitor Size", "画面サイズ"},
    {1034, "Note", "備考"},
    {1035, "Maker", "メーカー名"},
    {1036, "Manufacturer Code", "メーカーコード"},
    {1037, "Product Code", "製品コード"},
    {1038, "Present", "接続中"},
    {1039, "Inventory Model", "資産管理用モデル"},
    {1040, "Inventory Serial", "資産管理用シリアル番号"},
    {1041, "Serial Source", "シリアル番号の出所"},
    {1042, "Placeholder Serial", "仮のシリアル番号"},
    {1043, "ID Serial", "IDシリアル番号"},
    {1044, "Year Kind", "年の種類"},
    {1045, "EDID Checksum", "EDIDチェックサム"},
    {1046, "Monitor Key", "モニターキー"},
};

TEST(TextTable, EveryIdInBothLanguagesAsWritten) {
  ASSERT_EQ(std::size(kExpected), static_cast<std::size_t>(kLastTextId - kFirstTextId + 1));
  int id = kFirstTextId;
  for (const ExpectedText& text : kExpected) {
    SCOPED_TRACE(text.id);
    EXPECT_EQ(text.id, id++);
    EXPECT_FALSE(TableText(text.id, Language::kEnglish).empty());
    EXPECT_FALSE(TableText(text.id, Language::kJapanese).empty());
    EXPECT_EQ(TableText(text.id, Language::kEnglish), text.english);
    EXPECT_EQ(TableText(text.id, Language::kJapanese), text.japanese);
  }
}

TEST(TextTable, UnknownIdsAreEmpty) {
  EXPECT_EQ(TableText(kFirstTextId - 1, Language::kEnglish), "");
  EXPECT_EQ(TableText(kLastTextId + 1, Language::kJapanese), "");
}

TEST(TextTable, BlanksAtTheEndsAreKept) {
  // Other text is joined directly before or after these.
  EXPECT_EQ(TableText(kTextReplyFrom, Language::kEnglish).back(), ' ');
  EXPECT_EQ(TableText(kTextRequestTimedOut, Language::kJapanese)
                .substr(TableText(kTextRequestTimedOut, Language::kJapanese).size() - 2),
            "  ");
  EXPECT_EQ(TableText(kTextNoMonitorInformation, Language::kEnglish).front(), ' ');
  EXPECT_EQ(TableText(kTextNoMonitorInformation, Language::kJapanese).front(), ' ');
  EXPECT_NE(TableText(kTextIcmpLoadError, Language::kEnglish).find(".  PING"),
            std::string_view::npos);
}

using testing::ScopedEnv;

TEST(LanguageChoice, LocaleNamesBeginningWithJaMeanJapanese) {
  EXPECT_EQ(LanguageFromLocaleName("ja_JP.UTF-8"), Language::kJapanese);
  EXPECT_EQ(LanguageFromLocaleName("ja"), Language::kJapanese);
  EXPECT_EQ(LanguageFromLocaleName("ja_JP.eucJP"), Language::kJapanese);
  EXPECT_EQ(LanguageFromLocaleName("de_DE.UTF-8"), Language::kEnglish);
  EXPECT_EQ(LanguageFromLocaleName("C"), Language::kEnglish);
  EXPECT_EQ(LanguageFromLocaleName("j"), Language::kEnglish);
  EXPECT_EQ(LanguageFromLocaleName(""), Language::kEnglish);
}

TEST(LanguageChoice, FirstSetAndNonEmptyVariableDecides) {
  {
    ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    ScopedEnv messages("LC_MESSAGES", "ja_JP.UTF-8");
    ScopedEnv lang("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(LanguageFromEnvironment(), Language::kEnglish);
  }
  {
    ScopedEnv all("LC_ALL");
    ScopedEnv messages("LC_MESSAGES", "ja_JP.UTF-8");
    ScopedEnv lang("LANG", "C");
    EXPECT_EQ(LanguageFromEnvironment(), Language::kJapanese);
  }
#ifndef _WIN32  // the Windows C runtime cannot hold a variable with an empty value
  {
    ScopedEnv all("LC_ALL", "");
    ScopedEnv messages("LC_MESSAGES", "");
    ScopedEnv lang("LANG", "ja_JP.UTF-8");
    EXPECT_EQ(LanguageFromEnvironment(), Language::kJapanese);
  }
#endif
  {
    ScopedEnv all("LC_ALL");
    ScopedEnv messages("LC_MESSAGES");
    ScopedEnv lang("LANG");
    EXPECT_EQ(LanguageFromEnvironment(), Language::kEnglish);
  }
}

#ifdef _WIN32
// UTF-8 table text in the given code page, the way the resource loader must hand it out.
std::string ToCodePage(std::string_view utf8, UINT codePage) {
  const int wideLength =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                      wideLength);
  const int length =
      WideCharToMultiByte(codePage, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), wideLength, text.data(), length, nullptr, nullptr);
  return text;
}
#endif

// The test run states the language its environment asks for (ctest runs this
// program under a Japanese and a German locale); a plain run has nothing to check.
TEST(LoadText, GivesTheUsersLanguage) {
  const char* expected = std::getenv("GLIMMORA_EXPECT_LANGUAGE");
  if (expected == nullptr) GTEST_SKIP() << "GLIMMORA_EXPECT_LANGUAGE is not set";
  const Language language =
      std::string(expected) == "ja" ? Language::kJapanese : Language::kEnglish;
  for (int id = kFirstTextId; id <= kLastTextId; ++id) {
    SCOPED_TRACE(id);
    const std::string_view utf8 = TableText(id, language);
#ifdef _WIN32
    // A Japanese user gets Shift-JIS (code page 932); every other one English,
    // which is plain ASCII in any ANSI code page.
    const std::string wanted = ToCodePage(utf8, language == Language::kJapanese ? 932 : 1252);
#else
    const std::string wanted(utf8);
#endif
    EXPECT_EQ(LoadText(id), wanted);
  }
  EXPECT_EQ(LoadText(kLastTextId + 1), "");
}

#ifdef _WIN32
TEST(LoadText, JapaneseUserGetsShiftJis) {
  const char* expected = std::getenv("GLIMMORA_EXPECT_LANGUAGE");
  if (expected == nullptr || std::string(expected) != "ja") GTEST_SKIP() << "not a Japanese run";
  EXPECT_EQ(GetACP(), 932u);
  // "Quick Check" in Japanese, written as Shift-JIS bytes.
  EXPECT_EQ(LoadText(kTextTabQuickCheck),
            "\x83\x4E\x83\x43\x83\x62\x83\x4E\x83\x60\x83\x46\x83\x62\x83\x4E");
}
#endif

}  // namespace
}  // namespace glimmora
