// `glimmora check -k` and `glimmora batch -k` against a real Active Directory
// domain controller (scripts/samba-test-dc, provisioned once per ctest run in
// a network namespace of its own): a ticket from its KDC reads the registry;
// no ticket, an expired one, one of another realm and an NTLM logon the DC
// refuses each give a message that says what is wrong.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "tests/support/ccache_file.h"
#include "tests/support/run_process.h"

namespace glimmora {
namespace {

const std::string kDc = "dc1.glimdom.test";

std::string DcDir() {
  const char* dir = std::getenv("GLIMMORA_DC_DIR");
  return dir != nullptr ? dir : "";
}

std::string DcNetns() {
  std::string name = testing::ReadWholeFile(DcDir() + "/netns");
  return name.substr(0, name.find('\n'));
}

class DomainControllerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(DcDir().empty()) << "GLIMMORA_DC_DIR is not set: run through ctest";
    std::filesystem::create_directories(scratch_);
    std::ofstream(scratch_ + "/dc1.glimdom.test.reg", std::ios::binary)
        << testing::ReadWholeFile(std::string(GLIMMORA_TEST_DATA_DIR) + "/rpc/display.reg");
  }
  void TearDown() override { std::filesystem::remove_all(scratch_); }

  // A command inside the DC's namespace, with its Kerberos configuration, the
  // given cache and English texts.
  testing::ProcessResult Run(const std::string& ccache, std::vector<std::string> command) {
    std::vector<std::string> args = {"netns",
                                     "exec",
                                     DcNetns(),
                                     "/usr/bin/env",
                                     "KRB5_CONFIG=" + DcDir() + "/krb5.conf",
                                     "KRB5CCNAME=" + ccache,
                                     "LANG=C",
                                     "LC_ALL=C"};
    args.insert(args.end(), command.begin(), command.end());
    return testing::RunProcess("/usr/sbin/ip", args, scratch_ + "/run");
  }

  // A ticket of GLIMDOM\Administrator from the DC's KDC, as a user gets one.
  std::string Kinit(const std::string& name, const std::string& lifetime) {
    const std::string ccache = "FILE:" + scratch_ + "/" + name;
    const testing::ProcessResult got = Run(
        ccache,
        {"/bin/sh", "-c",
         "kinit -l " + lifetime + " administrator@GLIMDOM.TEST <" + DcDir() + "/admin-password"});
    EXPECT_EQ(got.exitCode, 0) << got.out << got.err;
    return ccache;
  }

  testing::ProcessResult Glimmora(const std::string& ccache, std::vector<std::string> args) {
    args.insert(args.begin(), GLIMMORA_CLI_PATH);
    return Run(ccache, args);
  }

  const std::string scratch_ =
      ::testing::TempDir() + "glimmora-dc-test-" + std::to_string(getpid());
};

TEST_F(DomainControllerTest, KerberosTicketReadsTheRegistryAndBadTicketsAreNamed) {
  const std::string ccache = Kinit("ticket", "1h");

  // The DC's registry, by its host name, reads as the export it was filled from.
  const testing::ProcessResult offline =
      Glimmora(ccache, {"check", "--offline", scratch_, "--format", "csv", kDc});
  ASSERT_EQ(offline.exitCode, 0) << offline.err;
  const testing::ProcessResult check = Glimmora(ccache, {"check", "-k", "--format", "csv", kDc});
  EXPECT_EQ(check.exitCode, 0) << check.err;
  EXPECT_EQ(check.out, offline.out);
  EXPECT_NE(check.out.find("GLM Wide 27"), std::string::npos) << check.out;

  std::ofstream(scratch_ + "/input.txt") << kDc << "\n";
  const testing::ProcessResult batch =
      Glimmora(ccache, {"batch", "-k", scratch_ + "/input.txt", scratch_ + "/remote.csv"});
  EXPECT_EQ(batch.exitCode, 0) << batch.err;
  ASSERT_EQ(Glimmora(ccache, {"batch", "--offline", scratch_, scratch_ + "/input.txt",
                              scratch_ + "/offline.csv"})
                .exitCode,
            0);
  EXPECT_EQ(testing::ReadWholeFile(scratch_ + "/remote.csv"),
            testing::ReadWholeFile(scratch_ + "/offline.csv"));

  // No cache at all.
  const std::string missing = "FILE:" + scratch_ + "/no-such-cache";
  testing::ProcessResult failed = Glimmora(missing, {"check", "-k", kDc});
  EXPECT_NE(failed.exitCode, 0);
  EXPECT_NE(failed.err.find(missing), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("there is no such cache"), std::string::npos) << failed.err;

  // A ticket that has run out.
  const std::string shortLived = Kinit("short", "2s");
  ::sleep(3);
  failed = Glimmora(shortLived, {"check", "-k", kDc});
  EXPECT_NE(failed.exitCode, 0);
  EXPECT_NE(failed.err.find("the Kerberos ticket of administrator@GLIMDOM.TEST in " + shortLived +
                            " expired at "),
            std::string::npos)
      << failed.err;

  // A ticket of a realm the DC has no trust with: the library's own words
  // say nothing of it, the message does.
  const std::string foreign = scratch_ + "/foreign";
  testing::WriteCcache(foreign, static_cast<std::uint32_t>(std::time(nullptr)) + 3600,
                       "OTHER.TEST");
  failed = Glimmora("FILE:" + foreign, {"check", "-k", kDc});
  EXPECT_EQ(failed.exitCode, 2);
  EXPECT_EQ(failed.err.rfind("Registry Open Error : Key=dc1.glimdom.test Code=1326 ", 0), 0u)
      << failed.err;
  EXPECT_NE(failed.err.find("(the Kerberos ticket in FILE:" + foreign +
                            " is of alice@OTHER.TEST; dc1.glimdom.test belongs to realm "
                            "GLIMDOM.TEST: get a ticket of that realm with kinit)\n"),
            std::string::npos)
      << failed.err;

  // The DC takes no NTLM logon, even with the right password.
  const std::string password = testing::ReadWholeFile(DcDir() + "/admin-password");
  failed = Glimmora(
      ccache,
      {"check", "-U", "GLIMDOM\\Administrator%" + password.substr(0, password.find('\n')), kDc});
  EXPECT_EQ(failed.exitCode, 2);
  EXPECT_EQ(failed.err.rfind("Registry Open Error : Key=dc1.glimdom.test Code=1937 Desc=The "
                             "authentication failed since NTLM was blocked. ",
                             0),
            0u)
      << failed.err;
  EXPECT_NE(failed.err.find("(The workstation refused the NTLM logon: its domain allows Kerberos "
                            "only. Get a ticket with kinit and use -k.)"),
            std::string::npos)
      << failed.err;
}

// A KDC that takes the request for the service ticket and never answers: the
// library would wait it out on its own terms; the connect time-out ends it.
TEST_F(DomainControllerTest, ASilentKdcIsBoundedByTheConnectTimeout) {
  const std::string ccache = Kinit("silent", "1h");
  std::string conf = testing::ReadWholeFile(DcDir() + "/krb5.conf");
  const std::size_t kdc = conf.find("kdc = 127.0.0.1");
  ASSERT_NE(kdc, std::string::npos) << conf;
  conf.replace(kdc, 15, "kdc = 127.0.0.9");
  std::ofstream(scratch_ + "/silent.conf") << conf;
  std::ofstream(scratch_ + "/silent.py")
      << "import socket, time\n"
         "u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind(('127.0.0.9', 88))\n"
         "t = socket.socket(); t.bind(('127.0.0.9', 88)); t.listen(8)\n"
         "open('"
      << scratch_ << "/silent.ready', 'w').close()\ntime.sleep(60)\n";
  const std::string script = "python3 " + scratch_ +
                             "/silent.py & kdc=$!; "
                             "while [ ! -e " +
                             scratch_ +
                             "/silent.ready ]; do sleep 0.1; done; "
                             "KRB5_CONFIG=" +
                             scratch_ + "/silent.conf " + GLIMMORA_CLI_PATH +
                             " check -k --connect-timeout 2 " + kDc +
                             "; status=$?; kill $kdc; exit $status";
  const auto start = std::chrono::steady_clock::now();
  const testing::ProcessResult check = Run(ccache, {"/bin/sh", "-c", script});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(check.exitCode, 2) << check.err;
  EXPECT_EQ(check.err.rfind("Registry Open Error : Key=dc1.glimdom.test Code=1460 ", 0), 0u)
      << check.err;
  // Two seconds and the listener's start; the library alone takes far longer.
  EXPECT_LT(took, std::chrono::seconds(8));
}

}  // namespace
}  // namespace glimmora
