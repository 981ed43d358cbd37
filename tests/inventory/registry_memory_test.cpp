// The in-memory registry keeps the contract the scan relies on.
#include <gtest/gtest.h>

#include <thread>

#include "tests/support/registry_memory.h"

namespace glimmora {
namespace {

TEST(MemoryRegistryTest, NamesAndPathsMatchWithoutRegardToCase) {
  MemoryRegistry registry;
  registry.AddWorkstation("Pc1").SetString("Software\\Vendor", "Name", "value");
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA("PC1", kHkeyLocalMachine, &root), 0);
  RegKey key = kNoKey;
  ASSERT_EQ(registry.RegOpenKeyExA(root, "SOFTWARE\\vendor\\", 0, kKeyRead, &key), 0);
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  ASSERT_EQ(registry.RegQueryValueExA(key, "NAME", &type, &data), 0);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(data, (std::vector<std::uint8_t>{'v', 'a', 'l', 'u', 'e', 0}));
  EXPECT_EQ(registry.RegQueryValueExA(key, "Other", &type, &data), kErrorFileNotFound);
  RegKey missing = 1;
  EXPECT_EQ(registry.RegOpenKeyExA(root, "Software\\\\Vendor", 0, kKeyRead, &missing),
            kErrorFileNotFound);
  EXPECT_EQ(missing, kNoKey);
  EXPECT_EQ(registry.OpenKeyCount(), 2u);
  EXPECT_EQ(registry.RegCloseKey(key), 0);
  EXPECT_EQ(registry.RegCloseKey(key), kErrorInvalidHandle);
  EXPECT_EQ(registry.RegCloseKey(root), 0);
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST(MemoryRegistryTest, SubkeysEnumerateInInsertionOrder) {
  MemoryRegistry registry;
  registry.AddWorkstation("PC1")
      .AddKey("K\\zeta")
      .AddKey("K\\Alpha")
      .AddKey("K\\ZETA\\x")
      .AddKey("K\\mid");
  RegKey root = kNoKey;
  ASSERT_EQ(registry.RegConnectRegistryA("PC1", kHkeyLocalMachine, &root), 0);
  RegKey key = kNoKey;
  ASSERT_EQ(registry.RegOpenKeyExA(root, "K", 0, kKeyRead, &key), 0);
  std::vector<std::string> names;
  std::string name;
  std::uint32_t index = 0;
  long code = 0;
  while ((code = registry.RegEnumKeyExA(key, index++, &name)) == 0) names.push_back(name);
  EXPECT_EQ(code, kErrorNoMoreItems);
  EXPECT_EQ(names, (std::vector<std::string>{"zeta", "Alpha", "mid"}));
  registry.RegCloseKey(key);
  registry.RegCloseKey(root);
}

TEST(MemoryRegistryTest, ConnectFailures) {
  MemoryRegistry registry;
  registry.AddWorkstation("PC1");
  registry.FailConnect("pc1", kErrorAccessDenied);
  registry.FailConnect("OFF", 1722);
  RegKey root = kNoKey;
  EXPECT_EQ(registry.RegConnectRegistryA("PC1", kHkeyLocalMachine, &root), kErrorAccessDenied);
  EXPECT_EQ(registry.RegConnectRegistryA("OFF", kHkeyLocalMachine, &root), 1722);
  EXPECT_EQ(registry.RegConnectRegistryA("NEVER", kHkeyLocalMachine, &root), kErrorBadNetPath);
  EXPECT_EQ(root, kNoKey);
  EXPECT_EQ(registry.ConnectCount(), 3u);
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

TEST(MemoryRegistryTest, ConcurrentReadsOnDistinctKeys) {
  MemoryRegistry registry;
  MemoryWorkstation& pc = registry.AddWorkstation("PC1");
  for (int i = 0; i < 8; ++i) pc.SetString("K\\" + std::to_string(i), "V", std::to_string(i));
  std::vector<std::thread> threads;
  std::vector<int> failures(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&registry, &failures, t] {
      for (int round = 0; round < 200; ++round) {
        RegKey root = kNoKey;
        RegKey key = kNoKey;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
        if (registry.RegConnectRegistryA("PC1", kHkeyLocalMachine, &root) != 0 ||
            registry.RegOpenKeyExA(root, "K\\" + std::to_string(t), 0, kKeyRead, &key) != 0 ||
            registry.RegQueryValueExA(key, "V", &type, &data) != 0 ||
            data.front() != static_cast<std::uint8_t>('0' + t))
          ++failures[t];
        registry.RegCloseKey(key);
        registry.RegCloseKey(root);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures, std::vector<int>(8, 0));
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
}

}  // namespace
}  // namespace glimmora
