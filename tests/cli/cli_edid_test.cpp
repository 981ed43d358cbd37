// `glimmora edid FILE...` as a user runs it: output layout, exit status,
// messages for files that cannot be read.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"

namespace {

using glimmora::testing::ProcessResult;

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

// Named after the running test: ctest runs the tests of this file side by side.
std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "glimmora_" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" + name;
}

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the program with `args`; on Windows its text-mode line ends become LF.
CliResult RunCli(const std::vector<std::string>& args) {
  ProcessResult run = glimmora::testing::RunProcess(GLIMMORA_CLI_PATH, args, TempPath("cli"));
#ifdef _WIN32
  std::erase(run.out, '\r');
  std::erase(run.err, '\r');
#endif
  return {run.exitCode, std::move(run.out), std::move(run.err)};
}

// Variables set here are inherited by the program the test starts.
using glimmora::testing::ScopedEnv;

// English labels whatever the environment of the test run (on Windows the
// language of the test run itself decides).
class CliEdid : public ::testing::Test {
 protected:
  ScopedEnv all_{"LC_ALL"};
  ScopedEnv messages_{"LC_MESSAGES"};
  ScopedEnv lang_{"LANG", "en_US.UTF-8"};
};

const std::string kDell = GLIMMORA_TEST_DATA_DIR "/edid-corpus/0064FE7854DE.txt";
const std::string kDellFields =
    "Model: DELL S3222HN\n"
    "Serial Number: 2NQHQD3\n"
    "Monitor Size: W:70cm x H:39cm (31.5\")\n"
    "MFG Date: 2022/6\n"
    "EDID Version: 1.3\n";
// The same monitor's base block as it was read from the registry.
const char kDellHex[] =
    "00ffffffffffff0010ac1dd156543931\n1720010380462778ea66d5ac4f47a727\n"
    "115054a54b00714f8180a9c0d1c00101\n010101010101023a801871382d40582c\n"
    "4500ba892100001e000000ff00324e51\n485144330a2020202020000000fc0044\n"
    "454c4c205333323232484e0a000000fd\n00304b1e5312000a202020202020018d\n";

std::string HexToBytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size();) {
    if (hex[i] == '\n') {
      ++i;
      continue;
    }
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

TEST_F(CliEdid, OneFileGivesFiveLines) {
  const CliResult run = RunCli({"edid", kDell});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kDellFields);
  EXPECT_EQ(run.err, "");
}

TEST_F(CliEdid, HexTextAndRawBytesDecodeAlike) {
  const std::string hexFile = TempPath("dell_hex.txt");
  const std::string rawFile = TempPath("dell.bin");
  WriteFile(hexFile, kDellHex);
  WriteFile(rawFile, HexToBytes(kDellHex));
  EXPECT_EQ(RunCli({"edid", hexFile}).out, kDellFields);
  EXPECT_EQ(RunCli({"edid", rawFile}).out, kDellFields);
}

TEST_F(CliEdid, SeveralFilesAreGroupedUnderTheirNames) {
  const std::string rawFile = TempPath("dell.bin");
  WriteFile(rawFile, HexToBytes(kDellHex));
  const CliResult run = RunCli({"edid", kDell, rawFile});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, kDell + ":\n" + kDellFields + "\n" + rawFile + ":\n" + kDellFields);
}

TEST_F(CliEdid, UnreadableFileIsReportedAndTheOthersStillDecoded) {
  const std::string missing = TempPath("no_such_dump.txt");
  std::remove(missing.c_str());
  const CliResult run = RunCli({"edid", kDell, missing, kDell});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, kDell + ":\n" + kDellFields + "\n" + kDell + ":\n" + kDellFields);
  EXPECT_EQ(run.err, "glimmora: " + missing + ": No such file or directory\n");
}

TEST_F(CliEdid, DirectoryIsReportedNotDecoded) {
  const CliResult run = RunCli({"edid", GLIMMORA_TEST_DATA_DIR});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("glimmora: " GLIMMORA_TEST_DATA_DIR ": "), std::string::npos) << run.err;
}

TEST_F(CliEdid, MalformedHexIsReported) {
  const std::string file = TempPath("bad_hex.txt");
  WriteFile(file, "EDID (hex):\n00ffffffffffff0010ac1dd15654393\n");
  const CliResult run = RunCli({"edid", file});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("odd number of hex digits"), std::string::npos) << run.err;
}

TEST_F(CliEdid, EmptyModelStaysEmpty) {
  std::string block(128, '\0');
  block.replace(0, 8, "\x00\xFF\xFF\xFF\xFF\xFF\xFF\x00", 8);
  block.replace(54, 18, std::string("\0\0\0\xFF\0SN-7\n        ", 18));
  const std::string file = TempPath("serial_only.bin");
  WriteFile(file, block);
  const CliResult run = RunCli({"edid", file});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.substr(0, run.out.find("Monitor Size")), "Model: \nSerial Number: SN-7\n");
}

// The block as a registry export shows it: "EDID"=hex:00,ff,..., 16 bytes a
// line, each line but the last ending in a backslash.
std::string RegistryValueText(const std::string& bytes) {
  std::string text = "\"EDID\"=hex:";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(bytes[i]));
    text += byte;
    if (i + 1 < bytes.size()) text += i % 16 == 15 ? ",\\\r\n  " : ",";
  }
  return text + "\r\n";
}

// Text copied from a registry export is hex; other text without the EDID
// header is decoded all the same, with a warning and status 1; a file larger
// than any dump is not read into memory.
TEST_F(CliEdid, RegistryTextIsHexAndWhatIsNoEdidIsFlagged) {
  const std::string copied = TempPath("dell_reg.txt");
  WriteFile(copied, RegistryValueText(HexToBytes(kDellHex)));
  const CliResult reg = RunCli({"edid", copied});
  EXPECT_EQ(reg.status, 0) << reg.err;
  EXPECT_EQ(reg.out, kDellFields);
  EXPECT_EQ(reg.err, "");

  const std::string text = TempPath("note.txt");
  WriteFile(text, "Model DELL S3222HN, bought 2022\n");
  const CliResult raw = RunCli({"edid", text});
  EXPECT_EQ(raw.status, 1);
  EXPECT_NE(raw.out.find("EDID Version: "), std::string::npos) << raw.out;
  EXPECT_EQ(raw.err, "glimmora: " + text +
                         ": warning: no EDID header (00 FF FF FF FF FF FF 00) at the start; "
                         "decoded all the same\n");

  const std::string large = TempPath("large.bin");
  WriteFile(large, HexToBytes(kDellHex) + std::string((1 << 20) - 127, '\0'));
  std::vector<std::string> tooLarge = {large};
#ifdef __linux__
  tooLarge.push_back("/dev/zero");
#endif
  for (const std::string& file : tooLarge) {
    const CliResult run = RunCli({"edid", file});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "glimmora: " + file + ": larger than 1 MiB, more than an EDID dump holds\n");
  }
}

TEST_F(CliEdid, UsageErrors) {
  const CliResult noFile = RunCli({"edid"});
  EXPECT_EQ(noFile.status, 64);
  EXPECT_NE(noFile.err.find("usage: glimmora edid [--] FILE..."), std::string::npos);
  EXPECT_EQ(noFile.out, "");
  EXPECT_EQ(RunCli({}).status, 64);
  // A misplaced logon option is refused before anything is read, so its
  // password never comes back as a file name.
  const CliResult logon = RunCli({"edid", kDell, "-U", "admin%Secret-pw"});
  EXPECT_EQ(logon.status, 64);
  EXPECT_EQ(logon.out, "");
  EXPECT_NE(logon.err.find("unknown option '-U'"), std::string::npos) << logon.err;
  EXPECT_EQ(logon.err.find("Secret-pw"), std::string::npos) << logon.err;
  // After "--" a name that begins with a dash is a file.
  const CliResult dashed = RunCli({"edid", "--", "-no-such-dump"});
  EXPECT_EQ(dashed.status, 1);
  EXPECT_EQ(dashed.err.find("glimmora: -no-such-dump: "), 0u) << dashed.err;
  const CliResult unknown = RunCli({"frobnicate"});
  EXPECT_EQ(unknown.status, 64);
  EXPECT_NE(unknown.err.find("unknown command 'frobnicate'"), std::string::npos);
}

// Runs only in the "japanese" run (see CMakeLists.txt): a Windows program
// takes its language from the environment it was started in, not from
// variables set later.
TEST(CliEdidJapanese, LabelsInTheUsersLanguage) {
  const CliResult run = RunCli({"edid", kDell});
  EXPECT_EQ(run.status, 0);
#ifdef _WIN32
  const std::string model = "\x83\x82\x83\x66\x83\x8B";  // in Shift-JIS
#else
  const std::string model = "モデル";
#endif
  EXPECT_EQ(run.out.substr(0, model.size() + 2), model + ": ");
  EXPECT_NE(run.out.find(": 2022/6\n"), std::string::npos);
}

}  // namespace
