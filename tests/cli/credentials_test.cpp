#include "cli/credentials.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace glimmora::cli {
namespace {

// A made-up system: environment, files and terminal the test controls.
struct FakeSystem {
  std::map<std::string, std::string> environment;
  struct File {
    std::string text;
    bool readableByOthers = false;
  };
  std::map<std::string, File> files;
  std::optional<std::string> typedPassword;  // nullopt: no terminal
  std::vector<std::string> prompts;
  bool ticket = false;
  std::vector<std::string> ticketCachesAsked;

  CredentialSources Sources() {
    CredentialSources s;
    s.environment = [this](const char* name) -> std::optional<std::string> {
      const auto found = environment.find(name);
      if (found == environment.end()) return std::nullopt;
      return found->second;
    };
    s.readFile = [this](const std::string& path, std::string* text, bool* others,
                        std::string* error) {
      const auto found = files.find(path);
      if (found == files.end()) {
        *error = "No such file or directory";
        return false;
      }
      *text = found->second.text;
      *others = found->second.readableByOthers;
      return true;
    };
    s.promptPassword = [this](const std::string& prompt) {
      prompts.push_back(prompt);
      return typedPassword;
    };
    s.haveKerberosTicket = [this](const std::string& ccache, std::string* why) {
      ticketCachesAsked.push_back(ccache);
      if (!ticket) *why = "no credentials cache found";
      return ticket;
    };
    return s;
  }
};

struct Outcome {
  bool ok = false;
  Credentials credentials;
  std::vector<std::string> warnings;
  std::string error;
};

Outcome Resolve(std::vector<std::string> args, FakeSystem& system) {
  Outcome out;
  CredentialOptions options;
  if (!TakeCredentialOptions(&args, &options, &out.error)) return out;
  out.ok =
      ResolveCredentials(options, system.Sources(), &out.credentials, &out.warnings, &out.error);
  return out;
}

TEST(TakeCredentialOptions, RemovesEverySpellingAndKeepsTheRestInOrder) {
  const struct {
    std::vector<std::string> args;
    std::string user, file;
    bool kerberos;
  } cases[] = {
      {{"host1", "-U", "alice%pw", "--offline", "dir", "--", "-U"}, "alice%pw", "", false},
      {{"host1", "--user=bob", "--offline", "dir", "--", "-U"}, "bob", "", false},
      {{"host1", "-Afile", "--offline", "dir", "--", "-U"}, "", "file", false},
      {{"host1", "--authentication-file", "f2", "--offline", "dir", "--", "-U"}, "", "f2", false},
      {{"host1", "--offline", "-k", "dir", "--", "-U"}, "", "", true},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    CredentialOptions options;
    std::string error;
    ASSERT_TRUE(TakeCredentialOptions(&args, &options, &error)) << error;
    EXPECT_EQ(args, (std::vector<std::string>{"host1", "--offline", "dir", "--", "-U"}));
    EXPECT_EQ(options.user ? std::string(*options.user) : std::string(), c.user);
    EXPECT_EQ(options.authenticationFile, c.file);
    EXPECT_EQ(options.kerberos, c.kerberos);
  }
}

// Two ways of naming the account, or one given twice, are not resolved
// silently: the user is told.
TEST(TakeCredentialOptions, ConflictingCredentialsAreAnError) {
  const struct {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"-U", "alice", "-A", "/auth"}, "-U and -A are given together"},
      {{"-A/auth", "--user=bob%pw"}, "-A and -U are given together"},
      {{"-A", "/a", "--authentication-file=/b"}, "-A is given twice"},
      {{"-Ualice", "-U", "bob"}, "-U is given twice"},
      {{"-k", "-U", "alice%pw"}, "-k and -U are given together"},
      {{"--authentication-file", "/a", "--kerberos"}, "-A and -k are given together"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("host");
    CredentialOptions options;
    std::string error;
    EXPECT_FALSE(TakeCredentialOptions(&args, &options, &error)) << c.error;
    EXPECT_EQ(error, std::string(c.error) + ": give one of -U, -A and -k, once");
  }
}

TEST(TakeCredentialOptions, OptionWithoutValueIsAnError) {
  for (const char* option : {"-U", "--user", "-A", "--authentication-file"}) {
    std::vector<std::string> args = {"host", option};
    CredentialOptions options;
    std::string error;
    EXPECT_FALSE(TakeCredentialOptions(&args, &options, &error)) << option;
    EXPECT_NE(error.find(option), std::string::npos) << error;
  }
}

TEST(HidePasswordsInArgv, BlanksOnlyThePasswordInEverySpelling) {
  char a0[] = "glimmora", a1[] = "check", a2[] = "-U", a3[] = "DOM\\alice%s3cr%t",
       a4[] = "-Ubob%pw2", a5[] = "--user=carol%pw3", a6[] = "-A", a7[] = "dir%x/auth",
       a8[] = "--user", a9[] = "dave", a10[] = "host%1";
  char* argv[] = {a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
  HidePasswordsInArgv(11, argv);
  EXPECT_STREQ(argv[3], "DOM\\alice%");
  EXPECT_EQ(std::memcmp(a3, "DOM\\alice%\0\0\0\0\0\0", sizeof a3), 0);  // every byte blanked
  EXPECT_STREQ(argv[4], "-Ubob%");
  EXPECT_STREQ(argv[5], "--user=carol%");
  EXPECT_STREQ(argv[7], "dir%x/auth");  // a file name is no password
  EXPECT_STREQ(argv[9], "dave");
  EXPECT_STREQ(argv[10], "host%1");  // not an option value
}

TEST(ResolveCredentials, UserWithDomainAndPassword) {
  FakeSystem system;
  for (const char* user : {"CORP\\alice%pa%ss", "CORP/alice%pa%ss"}) {
    const Outcome out = Resolve({"-U", user}, system);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_FALSE(out.credentials.kerberos);
    EXPECT_EQ(out.credentials.domain, "CORP");
    EXPECT_EQ(out.credentials.username, "alice");
    EXPECT_EQ(out.credentials.password, "pa%ss");  // only the first % separates
  }
  const Outcome empty = Resolve({"-U", "guest%"}, system);
  ASSERT_TRUE(empty.ok);
  EXPECT_EQ(empty.credentials.password, "");  // an empty password, not a missing one
  EXPECT_TRUE(system.prompts.empty());
}

TEST(ResolveCredentials, PasswordComesFromPasswdThenPasswdFileThenPrompt) {
  FakeSystem system;
  system.environment["PASSWD"] = "from-env";
  system.environment["PASSWD_FILE"] = "/pw";
  system.files["/pw"] = {"from-file\r\nsecond line\n"};
  system.typedPassword = "typed";
  EXPECT_EQ(Resolve({"-U", "alice"}, system).credentials.password, "from-env");
  system.environment.erase("PASSWD");
  EXPECT_EQ(Resolve({"-U", "alice"}, system).credentials.password, "from-file");
  system.environment.erase("PASSWD_FILE");
  const Outcome typed = Resolve({"-U", "CORP\\alice"}, system);
  ASSERT_TRUE(typed.ok);
  EXPECT_EQ(typed.credentials.password, "typed");
  EXPECT_EQ(system.prompts, (std::vector<std::string>{"Password for CORP\\alice: "}));
}

TEST(ResolveCredentials, NoPasswordAndNoTerminalIsAClearError) {
  FakeSystem system;
  const Outcome out = Resolve({"-U", "alice"}, system);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("no password for alice"), std::string::npos) << out.error;
}

TEST(ResolveCredentials, UnreadablePasswordFileIsAnError) {
  FakeSystem system;
  system.environment["PASSWD_FILE"] = "/missing";
  const Outcome out = Resolve({"-U", "alice"}, system);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("/missing"), std::string::npos) << out.error;
}

TEST(ResolveCredentials, AuthenticationFileAndItsPermissions) {
  FakeSystem system;
  system.files["/auth"] = {
      "# admin account\n  username = CORP\\alice \npassword= p w \r\n"
      "Domain =OTHER\nworkgroup = ignored\n"};
  Outcome out = Resolve({"-A", "/auth"}, system);
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.credentials.username, "alice");
  EXPECT_EQ(out.credentials.domain, "OTHER");  // the later domain line wins
  EXPECT_EQ(out.credentials.password, "p w");  // blanks inside stay
  EXPECT_TRUE(out.warnings.empty());

  system.files["/auth"].readableByOthers = true;
  out = Resolve({"-A", "/auth"}, system);
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.warnings.size(), 1u);
  EXPECT_NE(out.warnings[0].find("/auth"), std::string::npos);

  // A file saved with a UTF-8 byte-order mark reads the same.
  system.files["/bom"] = {"\xEF\xBB\xBFusername = alice\r\npassword = pw\r\n"};
  out = Resolve({"-A", "/bom"}, system);
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_EQ(out.credentials.username, "alice");
  EXPECT_EQ(out.credentials.password, "pw");
}

TEST(ResolveCredentials, AuthenticationFileErrors) {
  FakeSystem system;
  Outcome out = Resolve({"-A", "/none"}, system);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("/none"), std::string::npos);
  system.files["/nouser"] = {"password = x\n"};
  out = Resolve({"-A", "/nouser"}, system);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("names no user"), std::string::npos) << out.error;
}

TEST(ResolveCredentials, KerberosUsesTheCacheOfKrb5ccname) {
  FakeSystem system;
  system.environment["KRB5CCNAME"] = "FILE:/tmp/krb5cc_test";
  system.ticket = true;
  const Outcome out = Resolve({"-k"}, system);
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.credentials.kerberos);
  EXPECT_EQ(out.credentials.ccache, "FILE:/tmp/krb5cc_test");
  EXPECT_EQ(system.ticketCachesAsked, (std::vector<std::string>{"FILE:/tmp/krb5cc_test"}));

  system.ticket = false;
  const Outcome none = Resolve({"-k"}, system);
  EXPECT_FALSE(none.ok);
  EXPECT_NE(none.error.find("kinit"), std::string::npos) << none.error;
}

TEST(ResolveCredentials, NothingGivenFallsBackToTheCurrentTicketOrFailsClearly) {
  FakeSystem system;
  system.ticket = true;
  Outcome out = Resolve({}, system);
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.credentials.kerberos);
  EXPECT_EQ(out.credentials.ccache, "");  // the default cache

  system.ticket = false;
  system.environment["PASSWD"] = "a password alone names no user";
  out = Resolve({}, system);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("no credentials"), std::string::npos) << out.error;
  EXPECT_NE(out.error.find("-U"), std::string::npos);
}

TEST(ResolveCredentials, UserWithoutNameIsAnError) {
  FakeSystem system;
  const Outcome out = Resolve({"-U", "CORP\\%pw"}, system);
  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find("no user name"), std::string::npos);
}

}  // namespace
}  // namespace glimmora::cli
