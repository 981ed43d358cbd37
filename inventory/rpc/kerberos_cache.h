#pragma once
// What a Kerberos credential cache holds, in the words the user reads when a
// logon with its tickets cannot work: the one place that walks a cache.

#include <cstdint>
#include <string>

namespace glimmora {

// A credential cache: its full name, the principal, and whether it holds a
// ticket that has not expired.
struct TicketCache {
  bool opened = false;
  std::string name;       // "FILE:/tmp/krb5cc_0"
  std::string principal;  // "alice@EXAMPLE.TEST"
  std::string realm;
  bool haveTicket = false;  // one that has not expired
  // The latest end of the tickets that have, in seconds since 1970 (0: none).
  // Kerberos keeps times as 32 bits read unsigned, which last until 2106.
  std::uint32_t expired = 0;
  std::string failure;  // why the cache could not be read
};

// Reads the cache (empty: the default one, KRB5CCNAME). Its tickets count,
// not the configuration entries the library keeps beside them.
TicketCache ReadTicketCache(const std::string& ccache);

// Why the cache cannot log on at all, in words naming it; empty when it holds
// a ticket.
std::string TicketCacheProblem(const TicketCache& cache);

// Whether the credential cache holds a ticket that has not expired (what
// `klist -s` tells); when not, *why says so.
bool KerberosTicketAvailable(const std::string& ccache, std::string* why);

// Why Kerberos could not log on to the host, in words naming the cache: no
// ticket, an address where a host name is needed, a ticket of another realm.
// Empty when nothing wrong can be found on this side.
std::string DiagnoseKerberos(const std::string& ccache, const std::string& host);

}  // namespace glimmora
