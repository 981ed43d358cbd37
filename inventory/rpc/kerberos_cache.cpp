#include "inventory/rpc/kerberos_cache.h"

#include <arpa/inet.h>
#include <krb5.h>
#include <strings.h>
#include <sys/socket.h>

#include <ctime>

namespace glimmora {
namespace {

// A Kerberos library context for one look at a cache; the messages of its codes.
class KerberosContext {
 public:
  KerberosContext() {
    if (krb5_init_context(&context_) != 0) context_ = nullptr;
  }
  ~KerberosContext() {
    if (context_ != nullptr) krb5_free_context(context_);
  }
  KerberosContext(const KerberosContext&) = delete;
  KerberosContext& operator=(const KerberosContext&) = delete;
  krb5_context get() const { return context_; }
  std::string Message(krb5_error_code code) const {
    const char* text = krb5_get_error_message(context_, code);
    std::string copy = text != nullptr ? text : "unknown Kerberos error";
    krb5_free_error_message(context_, text);
    return copy;
  }

 private:
  krb5_context context_ = nullptr;
};

// krb5_timestamp is a signed 32-bit count; the library itself reads it
// unsigned, so that a ticket ending after January 2038 has not expired.
std::uint32_t UnsignedTime(krb5_timestamp when) {
  return static_cast<std::uint32_t>(when);
}

std::string LocalTimeText(std::uint32_t when) {
  const auto t = static_cast<std::time_t>(when);
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local);
  return text;
}

TicketCache ReadTicketCache(const KerberosContext& context, const std::string& ccache) {
  TicketCache result;
  krb5_context kc = context.get();
  krb5_ccache cache = nullptr;
  krb5_error_code code =
      ccache.empty() ? krb5_cc_default(kc, &cache) : krb5_cc_resolve(kc, ccache.c_str(), &cache);
  if (code != 0) {
    result.name = ccache.empty() ? "(the default cache)" : ccache;
    result.failure = context.Message(code);
    return result;
  }
  result.name = std::string(krb5_cc_get_type(kc, cache)) + ":" + krb5_cc_get_name(kc, cache);
  krb5_principal principal = nullptr;
  code = krb5_cc_get_principal(kc, cache, &principal);
  if (code != 0) {
    result.failure = code == KRB5_FCC_NOFILE || code == KRB5_CC_NOTFOUND ? "there is no such cache"
                                                                         : context.Message(code);
    krb5_cc_close(kc, cache);
    return result;
  }
  result.opened = true;
  char* unparsed = nullptr;
  if (krb5_unparse_name(kc, principal, &unparsed) == 0) {
    result.principal = unparsed;
    krb5_free_unparsed_name(kc, unparsed);
  }
  result.realm.assign(principal->realm.data, principal->realm.length);
  krb5_cc_cursor cursor = nullptr;
  if (krb5_cc_start_seq_get(kc, cache, &cursor) == 0) {
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    krb5_creds creds;
    while (krb5_cc_next_cred(kc, cache, &cursor, &creds) == 0) {
      if (!krb5_is_config_principal(kc, creds.server)) {
        const std::uint32_t end = UnsignedTime(creds.times.endtime);
        if (end > now) {
          result.haveTicket = true;
        } else if (end > result.expired) {
          result.expired = end;
        }
      }
      krb5_free_cred_contents(kc, &creds);
    }
    krb5_cc_end_seq_get(kc, cache, &cursor);
  }
  krb5_free_principal(kc, principal);
  krb5_cc_close(kc, cache);
  return result;
}

bool IsAddressLiteral(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// The realm the library's configuration (or, failing that, the host's
// domain) gives the host; empty when neither does.
std::string HostRealm(const KerberosContext& context, const std::string& host) {
  std::string hostRealm;
  char** realms = nullptr;
  if (krb5_get_host_realm(context.get(), host.c_str(), &realms) == 0 && realms != nullptr) {
    if (realms[0] != nullptr) hostRealm = realms[0];
    krb5_free_host_realm(context.get(), realms);
  }
  if (hostRealm.empty()) {
    krb5_data name{};
    name.data = const_cast<char*>(host.data());
    name.length = static_cast<unsigned>(host.size());
    if (krb5_get_fallback_host_realm(context.get(), &name, &realms) == 0 && realms != nullptr) {
      if (realms[0] != nullptr) hostRealm = realms[0];
      krb5_free_host_realm(context.get(), realms);
    }
  }
  return hostRealm;
}

constexpr const char* kNotSetUp = "Kerberos is not set up on this machine";

}  // namespace

TicketCache ReadTicketCache(const std::string& ccache) {
  const KerberosContext context;
  if (context.get() == nullptr) {
    TicketCache unread;
    unread.name = ccache.empty() ? "(the default cache)" : ccache;
    unread.failure = kNotSetUp;
    return unread;
  }
  return ReadTicketCache(context, ccache);
}

std::string TicketCacheProblem(const TicketCache& cache) {
  if (!cache.opened)
    return "the Kerberos credential cache " + cache.name + " cannot be read: " + cache.failure +
           "; get a ticket with kinit";
  if (cache.haveTicket) return {};
  if (cache.expired != 0) {
    return "the Kerberos ticket of " + cache.principal + " in " + cache.name + " expired at " +
           LocalTimeText(cache.expired) + "; renew it with kinit";
  }
  return "the Kerberos credential cache " + cache.name + " holds no ticket of " + cache.principal +
         "; get one with kinit";
}

bool KerberosTicketAvailable(const std::string& ccache, std::string* why) {
  const KerberosContext context;
  if (context.get() == nullptr) {
    if (why != nullptr) *why = kNotSetUp;
    return false;
  }
  const TicketCache cache = ReadTicketCache(context, ccache);
  if (cache.haveTicket) return true;
  if (why != nullptr) *why = TicketCacheProblem(cache);
  return false;
}

std::string DiagnoseKerberos(const std::string& ccache, const std::string& host) {
  const KerberosContext context;
  if (context.get() == nullptr) return kNotSetUp;
  const TicketCache cache = ReadTicketCache(context, ccache);
  std::string problem = TicketCacheProblem(cache);
  if (!problem.empty()) return problem;
  if (IsAddressLiteral(host)) {
    return "Kerberos needs the workstation's host name, not its address " + host;
  }
  const std::string hostRealm = HostRealm(context, host);
  if (!hostRealm.empty() && strcasecmp(hostRealm.c_str(), cache.realm.c_str()) != 0) {
    return "the Kerberos ticket in " + cache.name + " is of " + cache.principal + "; " + host +
           " belongs to realm " + hostRealm + ": get a ticket of that realm with kinit";
  }
  return {};
}

}  // namespace glimmora
