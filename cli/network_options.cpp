#include "cli/network_options.h"

#include <cstdio>
#include <cstdlib>

#include "cli/credentials.h"
#include "common/secret_memory.h"

namespace glimmora::cli {

const char* const kNetworkOptionsHelp =
#ifdef _WIN32
    "  --connect-timeout S  give up on reaching a workstation after S seconds (default 10)\n";
#else
    "  --connect-timeout S  give up on reaching a workstation after S seconds (default 10)\n"
    "  -U, --user [DOMAIN\\]USER[%PASSWORD]  log on as USER (PASSWD, PASSWD_FILE or a prompt\n"
    "                       give the password when it is left out)\n"
    "  -A, --authentication-file FILE  lines \"username = \", \"password = \", \"domain = \"\n"
    "  -k, --kerberos       use the Kerberos tickets of KRB5CCNAME's cache\n"
    "                       (none of these: your Kerberos ticket, if you have one)\n";
#endif

namespace {

constexpr OptionSpec kNetworkOptions[] = {
    {"--user", true, "-U"},
    {"--authentication-file", true, "-A"},
    {"--kerberos", false, "-k"},
    {"--connect-timeout", true},
};

}  // namespace

std::span<const OptionSpec> NetworkOptionTable() {
  return kNetworkOptions;
}

bool ReadCredentialOptions(const ParsedArguments& parsed, CredentialOptions* credentials,
                           std::string* error) {
  CredentialOptionReader reader(credentials);
  for (const ParsedOption& option : parsed.options) {
    if (!CredentialOptionReader::Names(option.spelled)) continue;
    if (!reader.Take(option.spelled, option.valueMissing ? nullptr : &option.value, error))
      return false;
  }
  return true;
}

bool TakeNetworkOptions(Arguments* args, CredentialOptions* credentials, std::string* error) {
  return TakeCredentialOptions(args, credentials, error);
}

bool ParseConnectTimeout(const std::string& text, std::chrono::milliseconds* timeout) {
  char* end = nullptr;
  const double seconds = std::strtod(text.c_str(), &end);
  if (text.empty() || end == nullptr || *end != '\0' || !(seconds > 0) || seconds > 3600) {
    return false;
  }
  *timeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
  return timeout->count() > 0;
}

bool ResolveNetworkCredentials(const CredentialOptions& credentials,
                               NetworkRegistryOptions* options, std::string* error) {
  // Passwords, hashes and Kerberos keys may be in memory from here on.
  KeepOutOfCoreDumps();
#ifdef _WIN32
  // The Windows back end opens registries with the logon of the user.
  if (credentials.user || !credentials.authenticationFile.empty() || credentials.kerberos) {
    *error = "-U, -A and -k are not used on Windows: the registry is opened with your own logon";
    return false;
  }
  (void)options;
  return true;
#elif !defined(GLIMMORA_HAVE_REGISTRY_RPC)
  // No network registry in this build: nothing would use the credentials.
  (void)credentials;
  (void)options;
  (void)error;
  return true;
#else
  CredentialSources sources = SystemCredentialSources();
  sources.haveKerberosTicket = NetworkKerberosTicketAvailable;
  Credentials resolved;
  std::vector<std::string> warnings;
  const bool ok = ResolveCredentials(credentials, sources, &resolved, &warnings, error);
  for (const std::string& warning : warnings) std::fprintf(stderr, "%s\n", warning.c_str());
  if (!ok) return false;
  options->kerberos = resolved.kerberos;
  options->ccache = resolved.ccache;
  options->username = resolved.username;
  options->domain = resolved.domain;
  options->password = resolved.password;
  return true;
#endif
}

}  // namespace glimmora::cli
