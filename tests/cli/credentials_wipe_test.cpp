// Taking and resolving credentials leaves no copy of the password in memory
// given back to the allocator: every block freed while a case runs is
// searched for it.
#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cli/credentials.h"
#include "common/secret_memory.h"
#include "tests/support/scoped_env.h"

namespace {

// Longer than a string keeps inside itself: it is on the heap.
constexpr char kPassword[] = "Wipe-Me-4f7c1d9e-heap-sized-password";
constexpr char kUserArgument[] = "reader%Wipe-Me-4f7c1d9e-heap-sized-password";
// What counts as a copy: any block holding the first part of the password.
constexpr std::size_t kTellTaleBytes = 12;

std::atomic<bool> watching{false};
std::atomic<int> freedWithPassword{0};

void Released(void* block, std::size_t size) {
  if (block == nullptr) return;
  if (watching.load() && memmem(block, size, kPassword, kTellTaleBytes) != nullptr)
    freedWithPassword.fetch_add(1);
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  Released(block, block != nullptr ? malloc_usable_size(block) : 0);
}
void operator delete(void* block, std::size_t) noexcept {
  Released(block, block != nullptr ? malloc_usable_size(block) : 0);
}

namespace glimmora::cli {
namespace {

struct Case {
  const char* name;
  const char* option;  // nullptr: -U USER, the password from elsewhere
  const char* value;
};

TEST(CredentialsWipeTest, NoFreedBlockHoldsThePassword) {
  const std::string dir = ::testing::TempDir();
  const std::string authFile = dir + "glimmora_wipe.auth";
  const std::string passwordFile = dir + "glimmora_wipe.pw";
  std::FILE* file = std::fopen(authFile.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fprintf(file, "username = reader\npassword = %s\n", kPassword);
  std::fclose(file);
  file = std::fopen(passwordFile.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fprintf(file, "%s\nsecond line\n", kPassword);
  std::fclose(file);

  const Case cases[] = {
      {"-U USER%PASSWORD", "-U", kUserArgument}, {"--user=USER%PASSWORD", nullptr, nullptr},
      {"-A FILE", "-A", authFile.c_str()},       {"PASSWD", nullptr, "PASSWD"},
      {"PASSWD_FILE", nullptr, "PASSWD_FILE"},   {"a prompt", nullptr, "prompt"},
  };
  for (const Case& c : cases) {
    const bool attached = c.option == nullptr && c.value == nullptr;
    const std::string env = c.option == nullptr && c.value != nullptr ? c.value : "";
    glimmora::testing::ScopedEnv passwd("PASSWD");
    glimmora::testing::ScopedEnv passwdFile("PASSWD_FILE");
    std::optional<glimmora::testing::ScopedEnv> set;
    if (env == "PASSWD") set.emplace("PASSWD", kPassword);
    if (env == "PASSWD_FILE") set.emplace("PASSWD_FILE", passwordFile);
    std::string attachedArgument = std::string("--user=") + kUserArgument;
    CredentialSources sources = SystemCredentialSources();
    sources.promptPassword = [](const std::string&) -> std::optional<std::string> {
      return std::string(kPassword);
    };

    freedWithPassword = 0;
    watching = true;
    {
      // Built in place: a temporary copy would be the test's own leak.
      std::vector<std::string> args;
      args.reserve(2);
      if (attached) {
        args.emplace_back(attachedArgument);
        WipeString(&attachedArgument);
      } else if (c.option != nullptr) {
        args.emplace_back(c.option);
        args.emplace_back(c.value);
      } else {
        args.emplace_back("-U");
        args.emplace_back("reader");
      }
      CredentialOptions options;
      std::string error;
      ASSERT_TRUE(TakeCredentialOptions(&args, &options, &error)) << c.name;
      Credentials credentials;
      std::vector<std::string> warnings;
      ASSERT_TRUE(ResolveCredentials(options, sources, &credentials, &warnings, &error))
          << c.name << ": " << error;
      EXPECT_TRUE(credentials.password == kPassword) << c.name;
      EXPECT_EQ(credentials.username, "reader");
    }
    watching = false;
    EXPECT_EQ(freedWithPassword.load(), 0) << c.name;
  }
  std::remove(authFile.c_str());
  std::remove(passwordFile.c_str());
}

}  // namespace
}  // namespace glimmora::cli
#endif  // __GLIBC__
