#pragma once
// Credentials for reaching a workstation's registry, taken the way Linux
// administration tools take them:
//   -U, --user [DOMAIN\]USER[%PASSWORD]
//   -A, --authentication-file FILE    lines "username = ", "password = ", "domain = "
//   -k, --kerberos                    the tickets of KRB5CCNAME's cache
//   PASSWD, PASSWD_FILE               the password when -U gives none
// With none of them, the current user's Kerberos ticket if there is one.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/secret_memory.h"

namespace glimmora::cli {

struct CredentialOptions {
  std::optional<SecretString> user;  // -U as given, password and all
  std::string authenticationFile;    // -A
  bool kerberos = false;             // -k
};

// The credential options of a command line, one at a time in the order
// given: one way of naming the account, given once.
class CredentialOptionReader {
 public:
  explicit CredentialOptionReader(CredentialOptions* options) : options_(options) {}
  // Whether `spelled` ("-U", "--user", "-A", ...) is one of them.
  static bool Names(std::string_view spelled);
  // Takes the option as spelled with its value (null: the command line ended
  // without it; -k takes none). False with *error saying what is wrong.
  bool Take(std::string_view spelled, const std::string_view* value, std::string* error);

 private:
  CredentialOptions* options_;
  std::string_view given_;  // the short name of the option taken first
};

// Takes the credential options and their values out of `args`, leaving the
// rest in order. False, with *error, when an option lacks its value.
bool TakeCredentialOptions(std::vector<std::string>* args, CredentialOptions* options,
                           std::string* error);

// Overwrites in place the PASSWORD of every -U USER%PASSWORD (each spelling)
// in the process's own arguments, so that the process list does not show it.
// Call it once the arguments have been copied. From the first password found
// on, the process is kept out of core dumps.
void HidePasswordsInArgv(int argc, char** argv);

// Wipes every argument, for the copy of the arguments once a command is done.
void WipeArguments(std::vector<std::string>* args);

struct Credentials {
  bool kerberos = false;
  std::string ccache;  // Kerberos: the cache to use; empty for the default
  std::string username;
  std::string domain;
  SecretString password;
};

// What resolving the credentials reads from the system; tests supply their own.
struct CredentialSources {
  std::function<std::optional<std::string>(const char* name)> environment;
  // The whole text of a file and whether its group or others may read it.
  std::function<bool(const std::string& path, std::string* text, bool* readableByOthers,
                     std::string* error)>
      readFile;
  // A password typed at the terminal without echo; nullopt when there is no
  // terminal or the user gave none.
  std::function<std::optional<std::string>(const std::string& prompt)> promptPassword;
  // Whether a Kerberos cache (empty: the default one) holds a ticket.
  std::function<bool(const std::string& ccache, std::string* why)> haveKerberosTicket;
};

// The process's environment, files and terminal (no Kerberos check: the
// caller sets haveKerberosTicket from the back end that can tell).
CredentialSources SystemCredentialSources();

// Decides who to log on as. Warnings (a credentials file others may read) are
// for the user's eyes; false means no usable credentials, *error says why.
bool ResolveCredentials(const CredentialOptions& options, const CredentialSources& sources,
                        Credentials* credentials, std::vector<std::string>* warnings,
                        std::string* error);

// The lines `glimmora ... --help` shows for these options.
extern const char* const kCredentialOptionsHelp;

}  // namespace glimmora::cli
