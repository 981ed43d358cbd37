#pragma once
// Kerberos credential caches written by hand, for tests of what the program
// makes of a cache it cannot use.

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>

namespace glimmora::testing {

// A credential cache file (version 4, big-endian) made by hand: a default
// principal and, when `endtime` is given, one ticket-granting ticket.
inline std::string WriteCcache(const std::string& path, std::optional<std::uint32_t> endtime,
                               const std::string& realm = "EXAMPLE.TEST") {
  std::string b;
  const auto u32 = [&](std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<char>(v >> shift));
  };
  const auto text = [&](const std::string& t) {
    u32(static_cast<std::uint32_t>(t.size()));
    b += t;
  };
  const auto principal = [&](std::initializer_list<std::string> parts) {
    u32(1);  // KRB5_NT_PRINCIPAL
    u32(static_cast<std::uint32_t>(parts.size()));
    text(realm);
    for (const std::string& part : parts) text(part);
  };
  b += std::string("\x05\x04\x00\x00", 4);  // version 4, no header fields
  principal({"alice"});
  if (endtime) {
    principal({"alice"});
    principal({"krbtgt", realm});
    b += std::string("\x00\x12", 2);  // key type
    u32(0);                           // key length
    u32(*endtime - 3600);             // auth, start, end, renew-till times
    u32(*endtime - 3600);
    u32(*endtime);
    u32(*endtime);
    b.push_back(0);  // not a session-key ticket
    u32(0);          // flags
    u32(0);          // addresses
    u32(0);          // authorization data
    text("ticket");
    text("");
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return {};
  std::fwrite(b.data(), 1, b.size(), f);
  std::fclose(f);
  return "FILE:" + path;
}

}  // namespace glimmora::testing
