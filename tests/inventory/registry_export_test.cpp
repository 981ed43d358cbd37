// Reading registry export files into a tree.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "inventory/offline/registry_export.h"
#include "inventory/registry/registry_access.h"

namespace glimmora {
namespace {

std::vector<std::uint8_t> FileBytes(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A version 5 file as the registry editor writes it: UTF-16LE after a BOM.
std::vector<std::uint8_t> Utf16File(std::u16string_view text, bool bom = true) {
  std::vector<std::uint8_t> bytes;
  if (bom) bytes = {0xFF, 0xFE};
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;
}

const RegistryNode* Key(const RegistryNode& root, const std::string& path) {
  const RegistryNode* node = &root;
  std::size_t start = 0;
  while (node != nullptr && start < path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    node = node->FindSubkey(path.substr(start, end - start));
    start = end + 1;
  }
  return node;
}

std::string Data(const RegistryNode& root, const std::string& path, const std::string& name,
                 std::uint32_t* type = nullptr) {
  const RegistryNode* key = Key(root, path);
  if (key == nullptr) return "<no key>";
  const RegistryValue* value = key->FindValue(name);
  if (value == nullptr) return "<no value>";
  if (type != nullptr) *type = value->type;
  return std::string(value->data.begin(), value->data.end());
}

std::vector<std::string> SubkeyNames(const RegistryNode& root, const std::string& path) {
  std::vector<std::string> names;
  if (const RegistryNode* key = Key(root, path)) {
    for (std::size_t i = 0; i < key->SubkeyCount(); ++i) names.push_back(key->SubkeyAt(i).name());
  }
  return names;
}

using namespace std::string_literals;

TEST(RegistryExportTest, Version5ValuesReadAsTheAnsiFunctionsGiveThem) {
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(
      Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                u"\r\n"
                u"; a comment\r\n"
                u"[HKEY_LOCAL_MACHINE\\SYSTEM\\Key]\r\n"
                u"@=\"default\"\r\n"
                u"\"Quoted \\\"name\\\"\"=\"C:\\\\dir\\\\ and \\\"quotes\\\"\"\r\n"
                u"\"Count\"=dword:0000012a\r\n"
                u"\"Multi\"=hex(7):41,00,2c,00,00,00,\\\r\n"
                u"  42,00,00,00,00,00\r\n"
                u"\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
                u"\"Binary\"=hex:00,ff,10\r\n"
                u"\"Empty\"=hex:\r\n"
                u"\"Text\"=\"\"\r\n"),
      root, &error))
      << error.line << ": " << error.reason;
  std::uint32_t type = 0;
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "", &type), "default\0"s);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "Quoted \"name\""), "C:\\dir\\ and \"quotes\"\0"s);
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "count", &type), "\x2a\x01\0\0"s);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "Multi", &type), "A,\0B\0\0"s);
  EXPECT_EQ(type, kRegMultiSz);
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "Expand", &type), "%A%\0"s);
  EXPECT_EQ(type, kRegExpandSz);
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "Binary", &type), "\0\xff\x10"s);
  EXPECT_EQ(type, kRegBinary);
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "Empty"), "");
  EXPECT_EQ(Data(root, "SYSTEM\\Key", "Text"), "\0"s);
}

#ifndef _WIN32
TEST(RegistryExportTest, UnicodeTextBecomesUtf8) {
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(Utf16File(u"Windows Registry Editor Version 5.00\r\n"
                                            u"[HKEY_LOCAL_MACHINE\\モニター]\r\n"
                                            u"\"説明\"=\"汎用 PnP モニター\"\r\n"
                                            u"\"Wide\"=hex(1):e2,6c,00,00\r\n"),
                                  root, &error));
  EXPECT_EQ(SubkeyNames(root, ""), std::vector<std::string>{"モニター"});
  EXPECT_EQ(Data(root, "モニター", "説明"), "汎用 PnP モニター\0"s);
  EXPECT_EQ(Data(root, "モニター", "Wide"), "\xe6\xb3\xa2\0"s);  // U+6CE2
}
#endif

TEST(RegistryExportTest, Regedit4KeepsItsBytes) {
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(FileBytes("REGEDIT4\n\n"
                                            "[HKEY_LOCAL_MACHINE\\A]\n"
                                            "\"Multi\"=hex(7):41,2c,00,42,00,00\n"
                                            "\"Text\"=\"x\\\\y\"\n"),
                                  root, &error));
  EXPECT_EQ(Data(root, "A", "Multi"), "A,\0B\0\0"s);
  EXPECT_EQ(Data(root, "A", "Text"), "x\\y\0"s);
}

TEST(RegistryExportTest, AnyLineEndingAndMissingByteOrderMark) {
  for (const std::string& text :
       {"REGEDIT4\r[HKLM\\A]\r\"V\"=\"1\"\r"s, "REGEDIT4\n[HKLM\\A]\n\"V\"=\"1\""s}) {
    RegistryNode root("");
    RegistryExportError error;
    ASSERT_TRUE(ParseRegistryExport(FileBytes(text), root, &error)) << error.reason;
    EXPECT_EQ(Data(root, "A", "V"), "1\0"s);
  }
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(
      Utf16File(u"Windows Registry Editor Version 5.00\n[HKLM\\A]\n\"V\"=\"1\"\n", false), root,
      &error));
  EXPECT_EQ(Data(root, "A", "V"), "1\0"s);
}

TEST(RegistryExportTest, KeysMergeWithoutRegardToCaseAndKeepTheirOrder) {
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(FileBytes("REGEDIT4\n"
                                            "[HKEY_LOCAL_MACHINE\\P\\Zeta]\n"
                                            "[HKEY_LOCAL_MACHINE\\P\\alpha]\n"
                                            "\"V\"=\"1\"\n"
                                            "[hkey_local_machine\\p\\ALPHA]\n"
                                            "\"v\"=\"2\"\n"
                                            "[HKLM\\P\\Mid]\n"),
                                  root, &error));
  EXPECT_EQ(SubkeyNames(root, "P"), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
  EXPECT_EQ(Data(root, "P\\Alpha", "V"), "2\0"s);
}

TEST(RegistryExportTest, DeletionsAndOtherRootsAreApplied) {
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(FileBytes("REGEDIT4\n"
                                            "[HKEY_LOCAL_MACHINE\\P\\A]\n"
                                            "[HKEY_LOCAL_MACHINE\\P\\B\\Child]\n"
                                            "[HKEY_LOCAL_MACHINE\\P\\C]\n"
                                            "\"Keep\"=\"1\"\n"
                                            "\"Drop\"=\"2\"\n"
                                            "\"Drop\"=-\n"
                                            "[-HKEY_LOCAL_MACHINE\\P\\B]\n"
                                            "\"AfterDeletion\"=\"ignored\"\n"
                                            "[-HKEY_LOCAL_MACHINE\\P\\NoSuchKey\\Deeper]\n"
                                            "[HKEY_CURRENT_USER\\P\\D]\n"
                                            "\"Other\"=\"root\"\n"
                                            "[HKEY_LOCAL_MACHINE\\P\\B]\n"),
                                  root, &error))
      << error.reason;
  // B comes back as a new key, after the others.
  EXPECT_EQ(SubkeyNames(root, "P"), (std::vector<std::string>{"A", "C", "B"}));
  EXPECT_EQ(SubkeyNames(root, "P\\B"), std::vector<std::string>{});
  EXPECT_EQ(Data(root, "P\\C", "Keep"), "1\0"s);
  EXPECT_EQ(Data(root, "P\\C", "Drop"), "<no value>");
}

struct BadFile {
  std::string text;
  std::size_t line;
  std::string reason;
};

TEST(RegistryExportTest, MalformedFilesNameTheirFirstBadLine) {
  const std::string deep = "[HKLM" + [] {
    std::string path;
    for (int i = 0; i < 513; ++i) path += "\\k";
    return path;
  }() + "]";
  const BadFile cases[] = {
      {"", 1, "not a registry export"},
      {"Windows Registry Editor Version 4.00\n", 1, "not a registry export"},
      {"REGEDIT4\n\"V\"=\"1\"\n", 2, "a value before the first key"},
      {"REGEDIT4\n\n[HKLM\\A\n", 3, "a key line without its closing bracket"},
      {"REGEDIT4\n[HKLM\\A] x\n", 2, "text after the closing bracket"},
      {"REGEDIT4\n[HKLM\\A\\\\B]\n", 2, "an empty key name"},
      {"REGEDIT4\n[HKLM\\A\\]\n", 2, "an empty key name"},
      {"REGEDIT4\n[NOWHERE\\A]\n", 2, "a key outside the known roots"},
      {"REGEDIT4\n" + deep + "\n", 2, "keys nested deeper than 512 levels"},
      {"REGEDIT4\n[HKLM\\" + std::string(256, 'n') + "]\n", 2,
       "a key name longer than 255 characters"},
      {"REGEDIT4\n[HKLM\\A\0B]\n"s, 2, "a zero byte in a key name"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"\n", 3, "no \"=\" after the value name"},
      {"REGEDIT4\n[HKLM\\A]\n\"V=\"1\"\n", 3, "no \"=\" after the value name"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\n", 3, "a value name without its closing quote"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=\"1\n", 3, "a string without its closing quote"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=\"1\" 2\n", 3, "text after the value"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=dword:123456789\n", 3, "a dword that is not 1 to 8 hex digits"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=dword:\n", 3, "a dword that is not 1 to 8 hex digits"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex(x):00\n", 3, "a value type that is not 1 to 8 hex digits"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex;00\n", 3, "no \":\" after hex"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex:00,,01\n", 3, "a hex byte that is not 1 or 2 hex digits"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex:00,\\\n  01,\\\n  0g\n", 5,
       "a hex byte that is not 1 or 2 hex digits"},
      // Cut off inside a value that goes on over lines: after a backslash, or
      // in the middle of a continued line (no line end).
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex:00,\\", 3,
       "the file ends inside a value continued over lines"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex:00,\\\r\n  01,\\\r\n", 4,
       "the file ends inside a value continued over lines"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=hex:00,\\\n  01,\\\n  0", 5,
       "the file ends inside a value continued over lines"},
      {"REGEDIT4\n[HKLM\\A]\n\"V\"=qword:00\n", 3,
       "value data that is neither a string, a dword, hex bytes nor \"-\""},
      {"REGEDIT4\n[HKLM\\A]\nV=\"1\"\n", 3, "a line that is neither a key, a value nor a comment"},
  };
  for (const BadFile& bad : cases) {
    RegistryNode root("");
    RegistryExportError error;
    EXPECT_FALSE(ParseRegistryExport(FileBytes(bad.text), root, &error)) << bad.text;
    EXPECT_EQ(error.line, bad.line) << bad.text;
    EXPECT_EQ(error.reason.substr(0, bad.reason.size()), bad.reason) << bad.text;
  }
}

TEST(RegistryExportTest, HexListsMayEndInACommaAndGoOnOverLines) {
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(FileBytes("REGEDIT4\n[HKLM\\A]\n"
                                            "\"V\"=hex:01,02,\\\n"
                                            "  03 , 4,\\\n"
                                            "\n"
                                            "\"W\"=hex:0a,\n"
                                            "\"Last\"=hex:ff,\\\n"
                                            "  fe\r\n"),
                                  root, &error))
      << error.line << error.reason;
  EXPECT_EQ(Data(root, "A", "V"), "\x01\x02\x03\x04"s);
  EXPECT_EQ(Data(root, "A", "W"), "\x0a"s);
  EXPECT_EQ(Data(root, "A", "Last"), "\xff\xfe"s);
}

std::vector<std::uint8_t> ReadSample(const std::string& name) {
  std::ifstream in(std::string(GLIMMORA_TEST_DATA_DIR) + "/offline/" + name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Damaged files of every kind are refused or read, never a crash; a refusal
// names a line of the file.
TEST(RegistryExportTest, SurvivesDamagedFiles) {
  std::mt19937 random(20240611);
  for (const char* sample : {"PC-UNICODE.reg", "pc-ansi.reg", "BROKEN4.reg"}) {
    const std::vector<std::uint8_t> original = ReadSample(sample);
    ASSERT_FALSE(original.empty()) << sample;
    for (int round = 0; round < 400; ++round) {
      std::vector<std::uint8_t> bytes = original;
      const int edits = 1 + static_cast<int>(random() % 8);
      for (int e = 0; e < edits && !bytes.empty(); ++e) {
        const std::size_t at = random() % bytes.size();
        switch (random() % 4) {
          case 0:
            bytes[at] = static_cast<std::uint8_t>(random());
            break;
          case 1:
            bytes.resize(at);
            break;
          case 2:
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                         static_cast<std::uint8_t>("[]\\\",=\r\n\0-@;("[random() % 14]));
            break;
          default:
            bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at));
        }
      }
      RegistryNode root("");
      RegistryExportError error;
      if (!ParseRegistryExport(bytes, root, &error)) {
        EXPECT_GE(error.line, 1u);
        EXPECT_LE(error.line, bytes.size() + 1);
        EXPECT_FALSE(error.reason.empty());
      }
    }
  }
}

// Sizes that would take minutes with work per line growing with the file.
TEST(RegistryExportTest, LargeFilesTakeLinearTime) {
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < 50000; ++i) text += "[HKLM\\P\\K" + std::to_string(i) + "]\n\"V\"=\"x\"\n";
  for (int i = 0; i < 50000; i += 2) text += "[-HKLM\\P\\K" + std::to_string(i) + "]\n";
  text += "[HKLM\\Q]\n\"Long\"=hex:00";
  for (int i = 0; i < 200000; ++i) text += ",\\\n  01";
  text += "\n";
  RegistryNode root("");
  RegistryExportError error;
  ASSERT_TRUE(ParseRegistryExport(FileBytes(text), root, &error)) << error.line << error.reason;
  ASSERT_EQ(Key(root, "P")->SubkeyCount(), 25000u);
  EXPECT_EQ(Key(root, "P")->SubkeyAt(0).name(), "K1");
  EXPECT_EQ(Data(root, "Q", "Long").size(), 200001u);
}

}  // namespace
}  // namespace glimmora
