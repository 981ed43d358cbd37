// The one reading of a command line: a table joined from parts, short names
// with their values, and what is left for each part to say about its own.
#include "cli/option_parser.h"

#include <gtest/gtest.h>

namespace glimmora::cli {
namespace {

constexpr OptionSpec kShared[] = {
    {"--user", true, "-U"},
    {"--kerberos", false, "-k"},
    {"--columns", true},
};
constexpr OptionSpec kOwn[] = {
    {"--offline", true},
    {"--resume", false},
};

ParsedArguments Read(const Arguments& args) {
  const std::vector<OptionSpec> table = JoinOptionTables({kShared, kOwn});
  return ReadArguments(args, table);
}
// The values point into the arguments, which must outlive what was read.
ParsedArguments Read(Arguments&& args) = delete;

TEST(ReadArguments, EverySpellingOfAnOptionReadsAsTheTableNamesIt) {
  const Arguments args = {"-Ualice%pw", "--offline=dir", "-k",  "list",
                          "--user",     "bob",           "out", "--columns"};
  const ParsedArguments parsed = Read(args);
  ASSERT_EQ(parsed.options.size(), 5u);
  EXPECT_EQ(parsed.options[0].name, "--user");
  EXPECT_EQ(parsed.options[0].spelled, "-U");
  EXPECT_EQ(parsed.options[0].value, "alice%pw");
  EXPECT_EQ(parsed.options[1].name, "--offline");
  EXPECT_EQ(parsed.options[1].value, "dir");
  EXPECT_EQ(parsed.options[2].name, "--kerberos");
  EXPECT_EQ(parsed.options[2].spelled, "-k");
  EXPECT_EQ(parsed.options[3].spelled, "--user");
  EXPECT_EQ(parsed.options[3].value, "bob");
  EXPECT_TRUE(parsed.options[4].valueMissing);
  EXPECT_EQ(parsed.operands, (std::vector<std::string>{"list", "out"}));
  EXPECT_EQ(parsed.problem, "--columns needs a value");
  EXPECT_FALSE(parsed.help);
}

TEST(ReadArguments, AValueIsAViewOfTheArgumentNotACopy) {
  // A password is wiped where the arguments hold it; a copy would be freed unwiped.
  const Arguments args = {"-Usecret", "--user", "other"};
  const ParsedArguments parsed = Read(args);
  ASSERT_EQ(parsed.options.size(), 2u);
  EXPECT_EQ(parsed.options[0].value.data(), args[0].data() + 2);
  EXPECT_EQ(parsed.options[1].value.data(), args[2].data());
}

TEST(ReadArguments, OptionsAreCollectedPastAProblemAndPastHelp) {
  const Arguments first = {"--bogus", "-k", "--resume=yes", "-U", "x"};
  ParsedArguments parsed = Read(first);
  EXPECT_EQ(parsed.problem, "unknown option '--bogus'");
  ASSERT_EQ(parsed.options.size(), 2u);
  EXPECT_EQ(parsed.options[1].value, "x");

  // What follows a help request is not a problem, but its options still count.
  const Arguments help = {"--help", "--bogus", "-U"};
  parsed = Read(help);
  EXPECT_TRUE(parsed.help);
  EXPECT_EQ(parsed.problem, "");
  ASSERT_EQ(parsed.options.size(), 1u);
  EXPECT_TRUE(parsed.options[0].valueMissing);

  const Arguments resume = {"--resume=yes", "-h"};
  parsed = Read(resume);
  EXPECT_EQ(parsed.problem, "--resume takes no value");
}

TEST(ReadArguments, AShortNameAloneOrWithItsValueAndNothingElse) {
  // -k takes no value: "-kx" is no spelling of it.
  const Arguments joined = {"-kx"};
  EXPECT_EQ(Read(joined).problem, "unknown option '-kx'");
  // A value that looks like an option is still the value.
  const Arguments args = {"--offline", "-k", "--", "-U", "-"};
  const ParsedArguments parsed = Read(args);
  ASSERT_EQ(parsed.options.size(), 1u);
  EXPECT_EQ(parsed.options[0].value, "-k");
  EXPECT_EQ(parsed.operands, (std::vector<std::string>{"-U", "-"}));
}

TEST(ParseArguments, AHelpRequestEndsWhatIsWrongAfterIt) {
  ParsedArguments parsed;
  std::string problem;
  EXPECT_TRUE(ParseArguments({"-h", "--bogus"}, kOwn, &parsed, &problem));
  EXPECT_TRUE(parsed.help);
  EXPECT_FALSE(ParseArguments({"--bogus", "-h"}, kOwn, &parsed, &problem));
  EXPECT_EQ(problem, "unknown option '--bogus'");
  EXPECT_FALSE(ParseArguments({"--offline"}, kOwn, &parsed, &problem));
  EXPECT_EQ(problem, "--offline needs a value");
}

}  // namespace
}  // namespace glimmora::cli
