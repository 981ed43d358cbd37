// The program's own resources, read from Glimmora.exe as data: the same windows
// in English and Japanese, every text of the table, the icon, the version, the
// manifest. The test program must carry the same templates.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "resources/texts.h"

namespace glimmora {
namespace {

constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_NEUTRAL);  // 9
constexpr WORD kJapanese = 0x0411;                                    // 1041

std::wstring Widen(std::string_view utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                          static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

// The bytes of one resource in exactly one language; empty when it is not there.
std::vector<BYTE> ResourceBytes(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  HRSRC found = FindResourceExW(module, type, name, language);
  if (found == nullptr) return {};
  const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
  return std::vector<BYTE>(data, data + SizeofResource(module, found));
}

// Reads a dialog template (the extended form) field by field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::vector<BYTE>& bytes) : bytes_(bytes) {}
  template <typename T>
  T Read() {
    T value{};
    if (pos_ + sizeof(T) > bytes_.size()) throw std::out_of_range("template ends early");
    std::memcpy(&value, bytes_.data() + pos_, sizeof(T));
    pos_ += sizeof(T);
    return value;
  }
  std::wstring String() {
    std::wstring text;
    for (wchar_t c = Read<wchar_t>(); c != 0; c = Read<wchar_t>()) text += c;
    return text;
  }
  // A name or a number: "#n" for a number, "" for none.
  std::wstring NameOrOrdinal() {
    const WORD first = Read<WORD>();
    if (first == 0) return L"";
    if (first == 0xFFFF) return L"#" + std::to_wstring(Read<WORD>());
    pos_ -= sizeof(WORD);
    return String();
  }
  void AlignToDword() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
  void Skip(std::size_t n) { pos_ += n; }

 private:
  const std::vector<BYTE>& bytes_;
  std::size_t pos_ = 0;
};

struct Control {
  int id;
  std::string className;  // upper case; the predefined classes by name
  std::string text;       // UTF-8, "#128" for a resource number
  int x, y, cx, cy;
  DWORD style;
  DWORD exStyle;
  bool operator==(const Control&) const = default;
};

struct Dialog {
  DWORD style, exStyle;
  int x, y, cx, cy;
  std::string caption;
  int pointSize, weight;
  std::string font;
  std::vector<Control> controls;
};

std::string ClassName(const std::wstring& raw) {
  static const char* const kPredefined[] = {"BUTTON",  "EDIT",      "STATIC",
                                            "LISTBOX", "SCROLLBAR", "COMBOBOX"};
  if (!raw.empty() && raw[0] == L'#') {
    const int atom = std::stoi(raw.substr(1));
    if (atom >= 0x80 && atom <= 0x85) return kPredefined[atom - 0x80];
  }
  std::string name = Narrow(raw);
  for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  return name;
}

Dialog ParseDialog(const std::vector<BYTE>& bytes) {
  TemplateReader in(bytes);
  Dialog dialog{};
  EXPECT_EQ(in.Read<WORD>(), 1);       // version
  EXPECT_EQ(in.Read<WORD>(), 0xFFFF);  // the extended form
  in.Read<DWORD>();                    // help id
  dialog.exStyle = in.Read<DWORD>();
  dialog.style = in.Read<DWORD>();
  const WORD count = in.Read<WORD>();
  dialog.x = in.Read<short>();
  dialog.y = in.Read<short>();
  dialog.cx = in.Read<short>();
  dialog.cy = in.Read<short>();
  EXPECT_EQ(in.NameOrOrdinal(), L"");  // no menu
  EXPECT_EQ(in.NameOrOrdinal(), L"");  // the standard dialog class
  dialog.caption = Narrow(in.String());
  if (dialog.style & DS_SETFONT) {
    dialog.pointSize = in.Read<WORD>();
    dialog.weight = in.Read<WORD>();
    in.Read<BYTE>();  // italic
    in.Read<BYTE>();  // character set
    dialog.font = Narrow(in.String());
  }
  for (WORD i = 0; i < count; ++i) {
    in.AlignToDword();
    Control control{};
    in.Read<DWORD>();  // help id
    control.exStyle = in.Read<DWORD>();
    control.style = in.Read<DWORD>();
    control.x = in.Read<short>();
    control.y = in.Read<short>();
    control.cx = in.Read<short>();
    control.cy = in.Read<short>();
    control.id = static_cast<int>(in.Read<DWORD>());
    control.className = ClassName(in.NameOrOrdinal());
    control.text = Narrow(in.NameOrOrdinal());
    in.Skip(in.Read<WORD>());  // creation data
    dialog.controls.push_back(control);
  }
  return dialog;
}

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kPageStyle = DS_SETFONT | DS_FIXEDSYS | WS_CHILD | WS_SYSMENU;

struct ExpectedControl {
  int id;
  const char* className;
  const char* english;
  const char* japanese;
  int x, y, cx, cy;
  DWORD style;
  DWORD exStyle;
};

struct ExpectedDialog {
  int id;
  DWORD style, exStyle;
  int cx, cy;
  const char* caption;
  std::vector<ExpectedControl> controls;
};

const std::vector<ExpectedDialog>& ExpectedDialogs() {
  static const std::vector<ExpectedDialog> dialogs = {
      {IDD_GLIMMORA_DIALOG,
       DS_SETFONT | DS_FIXEDSYS | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
           WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
       WS_EX_APPWINDOW,
       380,
       219,
       "Glimmora",
       {{IDC_TAB, "SYSTABCONTROL32", "", "", 7, 7, 366, 205, kChild, 0}}},
      {IDD_QUICK_DIALOG,
       kPageStyle,
       0,
       350,
       180,
       "",
       {{IDC_CHECK, "BUTTON", "Check", "チェック", 293, 7, 50, 14,
         kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
        {IDC_MONITOR_LIST, "SYSLISTVIEW32", "", "", 7, 27, 336, 146,
         kChild | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_ALIGNLEFT, WS_EX_LEFTSCROLLBAR},
        {IDC_WORKSTATION_NAME, "EDIT", "", "", 73, 7, 210, 14,
         kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0},
        {-1, "STATIC", "Workstation Name", "ワークステーション名", 7, 10, 61, 8,
         kChild | WS_GROUP | SS_RIGHT, 0}}},
      {IDD_BATCH_DIALOG,
       kPageStyle,
       0,
       350,
       180,
       "",
       {{IDC_INPUT_FILE, "EDIT", "", "", 73, 7, 210, 14,
         kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0},
        {IDC_INPUT_BROWSE, "BUTTON", "Browse...", "参照...", 293, 7, 50, 14,
         kChild | WS_TABSTOP | BS_PUSHBUTTON, 0},
        {IDC_OUTPUT_FILE, "EDIT", "", "", 73, 26, 210, 14,
         kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 0},
        {IDC_OUTPUT_BROWSE, "BUTTON", "Browse...", "参照...", 293, 25, 50, 14,
         kChild | WS_TABSTOP | BS_PUSHBUTTON, 0},
        {IDC_START, "BUTTON", "Start", "スタート", 293, 159, 50, 14,
         kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 0},
        {-1, "STATIC", "Input file name", "入力ファイル名", 7, 10, 61, 8,
         kChild | WS_GROUP | SS_RIGHT, 0},
        {-1, "STATIC", "Output file name", "出力ファイル名", 7, 29, 61, 8,
         kChild | WS_GROUP | SS_RIGHT, 0},
        {IDC_STATUS, "EDIT", "", "", 7, 159, 279, 14, kChild | ES_AUTOHSCROLL | ES_READONLY, 0}}},
      {IDD_ABOUT_DIALOG,
       kPageStyle,
       0,
       350,
       180,
       "",
       {{-1, "STATIC", "#128", "#128", 17, 13, 20, 20, kChild | SS_ICON, 0},
        {-1, "STATIC", "Glimmora, Version 1.2", "Glimmora, Version 1.2", 49, 13, 133, 8,
         kChild | WS_GROUP | SS_LEFT | SS_NOPREFIX, 0},
        {-1, "STATIC", "- Functions -\n", "- 機　能 -\n", 12, 48, 324, 8,
         kChild | WS_GROUP | SS_LEFT, 0},
        {-1, "STATIC",
         "(1) Quick Check\nGlimmora scans the registry of the specified remote workstation and "
         "gets information of PnP monitors.",
         "(1) クイックチェック\n　指定されたリモートワークステーションのレジストリを調べ、"
         "プラグアンドプレィモニタの情報を取り出し表示します。",
         12, 60, 324, 24, kChild | WS_GROUP | SS_LEFT, 0},
        {-1, "STATIC",
         "(2) Batch Process\nGlimmora reads the specified input file that has workstation name in "
         "each row. And it scans the registry of the remote workstations and gets information of "
         "PnP monitors. Then it writes the information to the specified output file.",
         "(2) バッチ処理\n　各行にワークステーション名が記述された入力ファイルを読み込み、"
         "それらのワークステーションのレジストリを調べ、プラグアンドプレィモニタの情報を取り出し、"
         "指定された出力ファイルへそれらの情報を書き出します。",
         12, 90, 324, 36, kChild | WS_GROUP | SS_LEFT, 0},
        {-1, "STATIC", "- Note -\n", "- 注　意 -\n", 12, 126, 288, 8, kChild | WS_GROUP | SS_LEFT,
         0},
        {-1, "STATIC",
         "(1) User must have appropriate access rights of the remote workstations for registry "
         "accessing.",
         "(1) 調査対象となるリモートワークステーションのレジストリにアクセスできる権利が必要です。",
         12, 138, 324, 18, kChild | WS_GROUP | SS_LEFT, 0},
        {-1, "STATIC",
         "(2) Glimmora doesn't check the data which has neither serial number nor model name. And "
         "duplicate data will not be displayed.",
         "(2) モデル名とシリアル番号の情報が両方とも存在しないものは出力されません。　また、"
         "重複する情報は出力されません。",
         12, 150, 324, 18, kChild | WS_GROUP | SS_LEFT, 0}}},
  };
  return dialogs;
}

class ProgramResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "Glimmora.exe";
    module = LoadLibraryExA(program.c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  }
  static void TearDownTestSuite() {
    if (module != nullptr) FreeLibrary(module);
    module = nullptr;
  }
  void SetUp() override { ASSERT_NE(module, nullptr) << "Glimmora.exe beside the test program"; }

  static HMODULE module;
};
HMODULE ProgramResources::module = nullptr;

TEST_F(ProgramResources, BothLanguagesHoldTheSameWindowsWithTheirOwnTexts) {
  for (const ExpectedDialog& expected : ExpectedDialogs()) {
    for (WORD language : {kEnglish, kJapanese}) {
      SCOPED_TRACE("template " + std::to_string(expected.id) + " language " +
                   std::to_string(language));
      const std::vector<BYTE> bytes = ResourceBytes(module, MAKEINTRESOURCEW(5) /*RT_DIALOG*/,
                                                    MAKEINTRESOURCEW(expected.id), language);
      ASSERT_FALSE(bytes.empty());
      const Dialog dialog = ParseDialog(bytes);
      EXPECT_EQ(dialog.style, expected.style);
      EXPECT_EQ(dialog.exStyle, expected.exStyle);
      EXPECT_EQ(dialog.x, 0);
      EXPECT_EQ(dialog.y, 0);
      EXPECT_EQ(dialog.cx, expected.cx);
      EXPECT_EQ(dialog.cy, expected.cy);
      EXPECT_EQ(dialog.caption, expected.caption);
      EXPECT_EQ(dialog.font, "MS Shell Dlg");
      EXPECT_EQ(dialog.pointSize, 8);
      EXPECT_EQ(dialog.weight, FW_NORMAL);

      std::vector<Control> want;
      for (const ExpectedControl& c : expected.controls) {
        want.push_back({c.id, c.className, language == kJapanese ? c.japanese : c.english, c.x, c.y,
                        c.cx, c.cy, c.style, c.exStyle});
      }
      ASSERT_EQ(dialog.controls.size(), want.size());
      for (std::size_t i = 0; i < want.size(); ++i) {
        const Control& got = dialog.controls[i];
        EXPECT_EQ(got.id, want[i].id) << "control " << i;
        EXPECT_EQ(got.className, want[i].className) << "control " << i;
        EXPECT_EQ(got.text, want[i].text) << "control " << i;
        EXPECT_EQ((std::vector<int>{got.x, got.y, got.cx, got.cy}),
                  (std::vector<int>{want[i].x, want[i].y, want[i].cx, want[i].cy}))
            << "control " << i;
        EXPECT_EQ(got.style, want[i].style) << "control " << i;
        EXPECT_EQ(got.exStyle, want[i].exStyle) << "control " << i;
      }
    }
  }
}

TEST_F(ProgramResources, TestProgramCarriesTheSameTemplates) {
  for (const ExpectedDialog& expected : ExpectedDialogs()) {
    for (WORD language : {kEnglish, kJapanese}) {
      const auto name = MAKEINTRESOURCEW(expected.id);
      EXPECT_EQ(ResourceBytes(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(5), name, language),
                ResourceBytes(module, MAKEINTRESOURCEW(5), name, language))
          << "template " << expected.id << " language " << language;
    }
  }
}

// One string of a string-table block (16 strings, each a length and UTF-16 text).
std::optional<std::wstring> TableString(HMODULE module, int id, WORD language) {
  const std::vector<BYTE> block = ResourceBytes(module, MAKEINTRESOURCEW(6) /*RT_STRING*/,
                                                MAKEINTRESOURCEW(id / 16 + 1), language);
  if (block.empty()) return std::nullopt;
  std::size_t pos = 0;
  for (int index = 0; index < 16 && pos + 2 <= block.size(); ++index) {
    WORD length;
    std::memcpy(&length, block.data() + pos, 2);
    pos += 2;
    if (index == id % 16) {
      if (length == 0) return std::nullopt;
      std::wstring text(length, L'\0');
      std::memcpy(text.data(), block.data() + pos, length * 2u);
      return text;
    }
    pos += length * 2u;
  }
  return std::nullopt;
}

TEST_F(ProgramResources, EveryTextIsThereInBothLanguages) {
  for (int id = kFirstTextId; id <= kLastTextId; ++id) {
    EXPECT_EQ(TableString(module, id, kEnglish), Widen(TableText(id, Language::kEnglish))) << id;
    EXPECT_EQ(TableString(module, id, kJapanese), Widen(TableText(id, Language::kJapanese))) << id;
  }
  // Spot checks against the table's own quirks: blanks at either end and U+3000.
  EXPECT_EQ(TableString(module, 1019, kEnglish), L" has No monitor information.");
  EXPECT_EQ(TableString(module, 1015, kJapanese), Widen("(エラー: タイムアウト  "));
  EXPECT_EQ(TableString(module, 1010, kEnglish),
            L"ICMP.DLL load error.  PING function is not available.");
}

TEST_F(ProgramResources, IconHasThreeImagesStoredOnceUnderJapanese) {
  const auto icon = MAKEINTRESOURCEW(IDR_MAINFRAME);
  EXPECT_TRUE(ResourceBytes(module, MAKEINTRESOURCEW(14), icon, kEnglish).empty());
  const std::vector<BYTE> group =
      ResourceBytes(module, MAKEINTRESOURCEW(14) /*RT_GROUP_ICON*/, icon, kJapanese);
  ASSERT_GE(group.size(), 6u + 3 * 14);
  WORD count;
  std::memcpy(&count, group.data() + 4, 2);
  ASSERT_EQ(count, 3);
  struct Image {
    int width, height, colours, bits;
    bool operator==(const Image&) const = default;
  };
  std::vector<Image> images;
  for (int i = 0; i < count; ++i) {
    const BYTE* entry = group.data() + 6 + 14 * i;
    WORD bits;
    std::memcpy(&bits, entry + 6, 2);
    images.push_back({entry[0], entry[1], entry[2], bits});
  }
  EXPECT_EQ(images, (std::vector<Image>{{16, 16, 16, 4}, {16, 16, 0, 24}, {32, 32, 0, 24}}));
}

std::wstring VersionString(const std::vector<BYTE>& block, const std::wstring& key) {
  void* value = nullptr;
  UINT length = 0;
  std::vector<BYTE> copy = block;  // the query wants a writable buffer
  if (!VerQueryValueW(copy.data(), key.c_str(), &value, &length) || length == 0) return L"";
  return std::wstring(static_cast<const wchar_t*>(value));
}

TEST_F(ProgramResources, VersionIdentifiesTheProgramInBothLanguages) {
  for (auto [language, block] :
       {std::pair{kEnglish, L"000904b0"}, std::pair{kJapanese, L"041104b0"}}) {
    SCOPED_TRACE(language);
    const std::vector<BYTE> version =
        ResourceBytes(module, MAKEINTRESOURCEW(16) /*RT_VERSION*/, MAKEINTRESOURCEW(1), language);
    ASSERT_FALSE(version.empty());
    std::vector<BYTE> copy = version;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(2, 1));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(1, 0));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(2, 1));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(1, 0));
    const std::wstring prefix = std::wstring(L"\\StringFileInfo\\") + block + L"\\";
    EXPECT_EQ(VersionString(version, prefix + L"FileDescription"), L"Glimmora");
    EXPECT_EQ(VersionString(version, prefix + L"ProductName"), L"Glimmora");
    EXPECT_EQ(VersionString(version, prefix + L"InternalName"), L"Glimmora.exe");
    EXPECT_EQ(VersionString(version, prefix + L"OriginalFilename"), L"Glimmora.exe");
    EXPECT_EQ(VersionString(version, prefix + L"CompanyName"), L"Brackwell");
    EXPECT_EQ(VersionString(version, prefix + L"FileVersion"), L"1.2.0.1");
  }
}

TEST_F(ProgramResources, ManifestRunsAsTheInvokingUser) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24) /*RT_MANIFEST*/);
  ASSERT_NE(found, nullptr);
  const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
  const std::string manifest(data, SizeofResource(module, found));
  EXPECT_NE(manifest.find(R"(level="asInvoker")"), std::string::npos);
  EXPECT_NE(manifest.find(R"(uiAccess="false")"), std::string::npos);
}

}  // namespace
}  // namespace glimmora
