// What the program makes of a Kerberos credential cache, without a KDC: caches
// written by hand and through the Kerberos library itself.
#include "inventory/rpc/kerberos_cache.h"

#include <gtest/gtest.h>
#include <krb5.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

#include "tests/support/ccache_file.h"

namespace glimmora {
namespace {

// 2046-07-04: past the end of a signed 32-bit count of seconds.
constexpr std::uint32_t kAfter2038 = 0x8C000000u;

std::string TempCache(const std::string& tag) {
  return ::testing::TempDir() + "glimmora-krb5cc-" + tag + "-" + std::to_string(getpid());
}

// A credential cache made by the Kerberos library: alice's ticket-granting
// ticket ending at `endtime`, stored as the library stores any ticket.
std::string StoreTicket(const std::string& path, std::uint32_t endtime) {
  krb5_context context = nullptr;
  if (krb5_init_context(&context) != 0) return {};
  const std::string name = "FILE:" + path;
  krb5_ccache cache = nullptr;
  krb5_principal client = nullptr;
  krb5_principal server = nullptr;
  bool stored = krb5_cc_resolve(context, name.c_str(), &cache) == 0 &&
                krb5_parse_name(context, "alice@EXAMPLE.TEST", &client) == 0 &&
                krb5_parse_name(context, "krbtgt/EXAMPLE.TEST@EXAMPLE.TEST", &server) == 0 &&
                krb5_cc_initialize(context, cache, client) == 0;
  if (stored) {
    krb5_creds creds{};
    creds.client = client;
    creds.server = server;
    creds.keyblock.enctype = ENCTYPE_AES256_CTS_HMAC_SHA1_96;
    creds.times.authtime = static_cast<krb5_timestamp>(endtime - 3600);
    creds.times.starttime = creds.times.authtime;
    creds.times.endtime = static_cast<krb5_timestamp>(endtime);
    creds.times.renew_till = creds.times.endtime;
    char ticket[] = "ticket";
    creds.ticket.data = ticket;
    creds.ticket.length = sizeof ticket - 1;
    stored = krb5_cc_store_cred(context, cache, &creds) == 0;
  }
  if (server != nullptr) krb5_free_principal(context, server);
  if (client != nullptr) krb5_free_principal(context, client);
  if (cache != nullptr) krb5_cc_close(context, cache);
  krb5_free_context(context);
  return stored ? name : std::string();
}

TEST(KerberosTicket, OnlyAnUnexpiredTicketCounts) {
  std::string why;
  EXPECT_FALSE(KerberosTicketAvailable("FILE:/nonexistent/glimmora-krb5cc", &why));
  EXPECT_FALSE(why.empty());

  const std::string path = TempCache("expiry");
  const auto now = static_cast<std::uint32_t>(std::time(nullptr));
  why.clear();
  EXPECT_FALSE(KerberosTicketAvailable(testing::WriteCcache(path, std::nullopt), &why));
  EXPECT_NE(why.find("no ticket"), std::string::npos) << why;
  EXPECT_FALSE(KerberosTicketAvailable(testing::WriteCcache(path, now - 60), &why));
  EXPECT_EQ(
      why.rfind("the Kerberos ticket of alice@EXAMPLE.TEST in FILE:" + path + " expired at ", 0),
      0u)
      << why;
  EXPECT_TRUE(KerberosTicketAvailable(testing::WriteCcache(path, now + 3600), &why)) << why;
  std::remove(path.c_str());
}

TEST(KerberosTicket, TicketEndingAfter2038HasNotExpired) {
  const std::string path = TempCache("2038");
  const std::string name = StoreTicket(path, kAfter2038);
  ASSERT_FALSE(name.empty()) << "the Kerberos library could not write " << path;

  const TicketCache cache = ReadTicketCache(name);
  EXPECT_TRUE(cache.opened) << cache.failure;
  EXPECT_EQ(cache.principal, "alice@EXAMPLE.TEST");
  EXPECT_EQ(cache.realm, "EXAMPLE.TEST");
  EXPECT_TRUE(cache.haveTicket);
  EXPECT_EQ(cache.expired, 0u);
  EXPECT_EQ(TicketCacheProblem(cache), "");

  std::string why;
  EXPECT_TRUE(KerberosTicketAvailable(name, &why)) << why;
  // The hand-written cache reads the same as the library's.
  EXPECT_TRUE(KerberosTicketAvailable(testing::WriteCcache(path, kAfter2038), &why)) << why;
  std::remove(path.c_str());
}

TEST(KerberosTicket, ExpiredTicketNamesItsEnd) {
  const std::string path = TempCache("expired");
  const auto end = static_cast<std::uint32_t>(std::time(nullptr)) - 7200;
  const std::string name = StoreTicket(path, end);
  ASSERT_FALSE(name.empty());
  const TicketCache cache = ReadTicketCache(name);
  EXPECT_FALSE(cache.haveTicket);
  EXPECT_EQ(cache.expired, end);
  EXPECT_NE(TicketCacheProblem(cache).find("renew it with kinit"), std::string::npos);
  std::remove(path.c_str());
}

TEST(KerberosDiagnosis, AddressIsNoHostNameForAValidTicket) {
  const std::string path = TempCache("address");
  const std::string name = StoreTicket(path, kAfter2038);
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(DiagnoseKerberos(name, "192.0.2.7"),
            "Kerberos needs the workstation's host name, not its address 192.0.2.7");
  EXPECT_EQ(DiagnoseKerberos(name, "2001:db8::7"),
            "Kerberos needs the workstation's host name, not its address 2001:db8::7");
  std::remove(path.c_str());
}

TEST(KerberosDiagnosis, MissingCacheIsNamed) {
  const std::string why = DiagnoseKerberos("FILE:/nonexistent/glimmora-krb5cc", "ws01");
  EXPECT_EQ(why.rfind("the Kerberos credential cache FILE:/nonexistent/glimmora-krb5cc cannot be "
                      "read: ",
                      0),
            0u)
      << why;
}

}  // namespace
}  // namespace glimmora
