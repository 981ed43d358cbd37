// The command line check and batch share: one table of the network, report
// and service options with each command's own, read in one pass, each part
// saying what is wrong with its own options in the same words for both.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/run_process.h"
#include "tests/support/scoped_env.h"

namespace glimmora {
namespace {

using testing::ProcessResult;

class SharedCommandLineTest : public ::testing::TestWithParam<const char*> {
 protected:
  ProcessResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), GetParam());
    // Each test its own (ctest runs them at the same time); a parameterised
    // test's name ends in "/0".
    std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(test.begin(), test.end(), '/', '_');
    const std::string scratch = ::testing::TempDir() + "glimmora_command_line_" + test;
    return testing::RunProcess(GLIMMORA_CLI_PATH, args, scratch);
  }
  // A usage error: the reason, then how the command is used.
  void ExpectUsageError(const std::vector<std::string>& args, const std::string& reason) {
    ProcessResult result = Run(args);
    result.err = testing::WithoutCarriageReturns(result.err);
    const std::string command = std::string("glimmora ") + GetParam();
    EXPECT_EQ(result.exitCode, 64) << reason;
    EXPECT_EQ(result.err.rfind(command + ": " + reason + "\n", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("usage: " + command), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }

  testing::ScopedEnv english_{"LC_ALL", "C"};
};

TEST_P(SharedCommandLineTest, CredentialsAreCheckedFirstWhereverTheyStand) {
  ExpectUsageError({"--bogus", "-U"}, "option -U needs a value");
  ExpectUsageError({"--help", "--user"}, "option --user needs a value");
  ExpectUsageError({"-k", "--user=alice", "PC"},
                   "-k and -U are given together: give one of -U, -A and -k, once");
  ExpectUsageError({"-Aauth", "-A", "auth", "PC"},
                   "-A is given twice: give one of -U, -A and -k, once");
}

TEST_P(SharedCommandLineTest, ReportOptionsSayWhatIsWrongBeforeAnUnknownOption) {
  ExpectUsageError({"--bogus", "--columns", "wide"}, "--columns needs specified or extended");
  ExpectUsageError({"--help", "--columns"}, "--columns needs specified or extended");
  ExpectUsageError({"--pnp-ids=", "PC"}, "--pnp-ids needs a file");
  ExpectUsageError({"--columns", "extended", "--bogus", "PC"}, "unknown option '--bogus'");
  ExpectUsageError({"PC", "--format"}, "--format needs a value");
}

TEST_P(SharedCommandLineTest, ServiceOptionsAreRefusedInTheSameWords) {
  ExpectUsageError({"--service-journal", "journal", "PC", "PC.csv"},
                   "--service-journal goes with --start-service");
  ExpectUsageError(
      {"--offline", ".", "--start-service", "PC", "PC.csv"},
      "--start-service reaches workstations over the network; --offline reads exports");
}

TEST_P(SharedCommandLineTest, HelpIsShownWhateverFollowsIt) {
  const ProcessResult result = Run({"-h", "--bogus", "--columns", "extended"});
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(result.out.find(std::string("usage: glimmora ") + GetParam()), std::string::npos);
  // The shared options are in the help of both.
  EXPECT_NE(result.out.find("--present-only"), std::string::npos);
  EXPECT_NE(result.out.find("--start-service"), std::string::npos);
  EXPECT_NE(result.out.find("--connect-timeout"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CheckAndBatch, SharedCommandLineTest, ::testing::Values("check", "batch"));

// Each command's own --format values go beside the report options' JSON one.
TEST(CommandFormats, EachCommandNamesItsOwnFormats) {
  testing::ScopedEnv english{"LC_ALL", "C"};
  const std::string scratch = ::testing::TempDir() + "glimmora_command_formats";
  ProcessResult result = testing::RunProcess(
      GLIMMORA_CLI_PATH, {"check", "--format", "json", "--format=xml", "PC"}, scratch);
  EXPECT_EQ(result.exitCode, 64);
  EXPECT_EQ(testing::WithoutCarriageReturns(result.err)
                .rfind("glimmora check: unknown format 'xml' (table, csv or json)\n", 0),
            0u)
      << result.err;
  result = testing::RunProcess(
      GLIMMORA_CLI_PATH, {"batch", "--format=jsonl", "--format", "json", "in", "out"}, scratch);
  EXPECT_EQ(result.exitCode, 64);
  EXPECT_EQ(testing::WithoutCarriageReturns(result.err)
                .rfind("glimmora batch: --format needs csv or jsonl\n", 0),
            0u)
      << result.err;
}

}  // namespace
}  // namespace glimmora
