// One workstation's full cycle over the Remote Registry protocol, timed:
// connect, list the DISPLAY key, read every instance's values and EDID, close.
//   rpc_cycle_bench HOST -A FILE [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/credentials.h"
#include "inventory/rpc/registry_rpc.h"

namespace {

using glimmora::RegistryAccess;
using glimmora::RegKey;
using glimmora::ScopedRegKey;

const std::string kDisplay = "SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\";

std::vector<std::string> Subkeys(RegistryAccess& registry, RegKey root, const std::string& path) {
  std::vector<std::string> names;
  RegKey key = glimmora::kNoKey;
  if (registry.RegOpenKeyExA(root, path, 0, glimmora::kKeyRead, &key) != 0) return names;
  ScopedRegKey owned(registry, key);
  std::string name;
  for (std::uint32_t i = 0; registry.RegEnumKeyExA(key, i, &name) == 0; ++i) names.push_back(name);
  return names;
}

// The calls the display scan makes, in its order; the number of values read.
long Cycle(RegistryAccess& registry, const std::string& host) {
  RegKey root = glimmora::kNoKey;
  if (registry.RegConnectRegistryA(host, glimmora::kHkeyLocalMachine, &root) != 0) return -1;
  ScopedRegKey ownedRoot(registry, root);
  long values = 0;
  for (const std::string& device : Subkeys(registry, root, kDisplay)) {
    for (const std::string& instance : Subkeys(registry, root, kDisplay + device)) {
      const std::string path = kDisplay + device + "\\" + instance;
      RegKey key = glimmora::kNoKey;
      std::uint32_t type = 0;
      std::vector<std::uint8_t> data;
      if (registry.RegOpenKeyExA(root, path, 0, glimmora::kKeyRead, &key) == 0) {
        ScopedRegKey owned(registry, key);
        for (const char* name : {"Mfg", "DeviceDesc", "Class", "HardwareID"}) {
          values += registry.RegQueryValueExA(key, name, &type, &data) == 0;
        }
      }
      if (registry.RegOpenKeyExA(root, path + "\\Device Parameters", 0, glimmora::kKeyRead, &key) ==
          0) {
        ScopedRegKey owned(registry, key);
        values += registry.RegQueryValueExA(key, "EDID", &type, &data) == 0;
      }
    }
  }
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  glimmora::cli::CredentialOptions options;
  std::string error;
  if (!glimmora::cli::TakeCredentialOptions(&args, &options, &error) || args.empty()) {
    std::fprintf(stderr, "usage: rpc_cycle_bench HOST -A FILE [ROUNDS]\n%s\n", error.c_str());
    return 2;
  }
  glimmora::cli::CredentialSources sources = glimmora::cli::SystemCredentialSources();
  sources.haveKerberosTicket = glimmora::KerberosTicketAvailable;
  glimmora::cli::Credentials c;
  std::vector<std::string> warnings;
  if (!glimmora::cli::ResolveCredentials(options, sources, &c, &warnings, &error)) {
    std::fprintf(stderr, "rpc_cycle_bench: %s\n", error.c_str());
    return 2;
  }
  glimmora::RpcCredentials credentials{c.kerberos, c.ccache, c.username, c.domain, c.password};
  glimmora::RpcRegistryAccess registry(credentials, glimmora::RpcOptions{});
  const int rounds = args.size() > 1 ? std::max(1, std::atoi(args[1].c_str())) : 20;
  std::vector<double> ms;
  long values = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    values = Cycle(registry, args[0]);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count());
    if (values < 0) {
      std::fprintf(stderr, "rpc_cycle_bench: cannot connect to %s\n", args[0].c_str());
      return 1;
    }
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%.1f %.1f %ld\n", ms[ms.size() / 2], ms.front(), values);  // median, min, values
  return 0;
}
