#pragma once
// The registry back end that reaches workstations over the network on this
// platform. The one place that chooses it, so that another can be put in.

#include <chrono>
#include <memory>
#include <string>

#include "common/secret_memory.h"
#include "inventory/registry/registry_access.h"

namespace glimmora {

struct NetworkRegistryOptions {
  // Off Windows, who to log on as: NTLM with a user name and password, or the
  // Kerberos tickets of a credential cache (empty: the default one). On
  // Windows the logon of the user who runs the program is used.
  bool kerberos = false;
  std::string ccache;
  std::string username;
  std::string domain;
  SecretString password;  // wiped when the options go
  // Bound on reaching a workstation, logon included.
  std::chrono::milliseconds connectTimeout{10000};
  // Off Windows: logons stop after this many logon failures in a row (0: never).
  int maxLogonFailures = 2;
  // The outputs will ask whether each monitor is present (its Control key):
  // a back end that reads ahead reads that too.
  bool readsPresence = false;
};

std::unique_ptr<RegistryAccess> CreateNetworkRegistry(const NetworkRegistryOptions& options = {});

// Off Windows: whether the Kerberos cache (empty: the default one) holds a
// ticket the network registry can log on with; when not, *why says so.
bool NetworkKerberosTicketAvailable(const std::string& ccache, std::string* why);

}  // namespace glimmora
