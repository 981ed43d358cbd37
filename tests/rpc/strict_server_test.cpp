// `glimmora check` and `glimmora batch` against a Samba server that requires
// SMB signing and encryption (scripts/samba-test-server with
// SAMBA_TEST_STRICT=1, in a network namespace of its own), over IPv4 and over
// IPv6: every row reads as the export the server was filled from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/run_process.h"

namespace glimmora {
namespace {

std::string ServerDir() {
  const char* dir = std::getenv("GLIMMORA_STRICT_DIR");
  return dir != nullptr ? dir : "";
}

class StrictServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerDir().empty()) << "GLIMMORA_STRICT_DIR is not set: run through ctest";
    std::filesystem::create_directories(scratch_);
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  // The command-line program inside the server's namespace, in English.
  testing::ProcessResult Glimmora(std::vector<std::string> args) {
    std::string netns = testing::ReadWholeFile(ServerDir() + "/netns");
    netns.resize(netns.find_first_of("\n") == std::string::npos ? netns.size() : netns.find('\n'));
    std::vector<std::string> command = {
        "netns", "exec", netns, "/usr/bin/env", "LANG=C", "LC_ALL=C", GLIMMORA_CLI_PATH};
    command.insert(command.end(), args.begin(), args.end());
    return testing::RunProcess("/usr/sbin/ip", command, scratch_ + "/run");
  }

  // The rows and the batch file the export gives, for `name` and for the
  // first line of `input`. (The export is read under a plain name: no file
  // name can be made of an IPv6 address.)
  void ExpectSameAsOffline(const std::string& name, const std::string& input) {
    const std::string exports = scratch_ + "/exports";
    std::filesystem::create_directories(exports);
    std::filesystem::copy_file(std::string(GLIMMORA_TEST_DATA_DIR) + "/rpc/display.reg",
                               exports + "/REFERENCE.reg",
                               std::filesystem::copy_options::overwrite_existing);
    const testing::ProcessResult offline =
        Glimmora({"check", "--offline", exports, "--format", "csv", "REFERENCE"});
    ASSERT_EQ(offline.exitCode, 0) << offline.err;
    const testing::ProcessResult remote =
        Glimmora({"check", "-A", ServerDir() + "/auth-admin.txt", "--format", "csv", name});
    EXPECT_EQ(remote.exitCode, 0) << name << ": " << remote.err;
    EXPECT_EQ(remote.out, offline.out) << name;

    std::ofstream(scratch_ + "/input.txt") << input;
    std::ofstream(scratch_ + "/reference.txt") << "REFERENCE\n";
    const testing::ProcessResult batch =
        Glimmora({"batch", "-A", ServerDir() + "/auth-admin.txt", scratch_ + "/input.txt",
                  scratch_ + "/remote.csv"});
    EXPECT_EQ(batch.exitCode, 0) << batch.err;
    ASSERT_EQ(Glimmora({"batch", "--offline", exports, scratch_ + "/reference.txt",
                        scratch_ + "/offline.csv"})
                  .exitCode,
              0);
    std::string expected = testing::ReadWholeFile(scratch_ + "/offline.csv");
    EXPECT_NE(expected.find("GLM Wide 27"), std::string::npos) << expected;
    std::string batchName = input.substr(0, input.find('\n'));
    for (char& c : batchName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (std::size_t at = 0; (at = expected.find("\r\nREFERENCE,", at)) != std::string::npos;) {
      expected.replace(at + 2, 9, batchName);
      at += 2 + batchName.size();
    }
    EXPECT_EQ(testing::ReadWholeFile(scratch_ + "/remote.csv"), expected) << input;
  }

  const std::string scratch_ =
      ::testing::TempDir() + "glimmora-strict-test-" + std::to_string(getpid());
};

TEST_F(StrictServerTest, SigningAndEncryptionRequiredReadsEveryRow) {
  ExpectSameAsOffline("127.0.0.1", "127.0.0.1\n");
  // The server's configuration is what makes this test: it must not lose it.
  const std::string conf = testing::ReadWholeFile(ServerDir() + "/smb.conf");
  EXPECT_NE(conf.find("server signing = mandatory"), std::string::npos);
  EXPECT_NE(conf.find("server smb encrypt = required"), std::string::npos);
}

TEST_F(StrictServerTest, Ipv6AddressesAndNamesWithOnlyIpv6Addresses) {
  // The probe answers in the same shape, with the address as the system writes it.
  const struct {
    const char* name;
    const char* address;
  } pings[] = {{"::1", "::1"},
               {"[::1]", "::1"},
               {"0:0:0:0:0:0:0:1", "::1"},
               {"FD00:0::5", "fd00::5"},
               {"glimmora-ipv6-only", "fd00::5"}};
  for (const auto& p : pings) {
    const testing::ProcessResult ping = Glimmora({"ping", p.name});
    EXPECT_EQ(ping.exitCode, 0) << p.name << ": " << ping.out << ping.err;
    EXPECT_EQ(ping.out.rfind(std::string("Reply from ") + p.address + ": bytes=32 time", 0), 0u)
        << p.name << ": " << ping.out;
    EXPECT_NE(ping.out.find(" TTL=64"), std::string::npos) << ping.out;
  }
  // The input file's rules keep only names that start with a letter or digit.
  ExpectSameAsOffline("glimmora-ipv6-only", "glimmora-ipv6-only\n");
  ExpectSameAsOffline("[fd00::5]", "fd00::5\n");
  ExpectSameAsOffline("::1", "0::1\n");

  // A zone index names no workstation of the network: refused with a message.
  const testing::ProcessResult zoned =
      Glimmora({"check", "-A", ServerDir() + "/auth-admin.txt", "fe80::1%lo"});
  EXPECT_EQ(zoned.exitCode, 2);
  EXPECT_EQ(zoned.err, "(Error: Could not find host  fe80::1%lo)\n");
}

}  // namespace
}  // namespace glimmora
