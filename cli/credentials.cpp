#include "cli/credentials.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace glimmora::cli {
namespace {

// Long option spellings with their short forms.
struct OptionName {
  std::string_view shortName;
  std::string_view longName;
};
constexpr OptionName kUserOption{"-U", "--user"};
constexpr OptionName kFileOption{"-A", "--authentication-file"};
constexpr OptionName kKerberosOption{"-k", "--kerberos"};

// The value of `arg` if it is the option with its value attached ("-Uvalue",
// "--user=value"). A view: a copy of a password would be freed unwiped.
std::optional<std::string_view> AttachedValue(std::string_view arg, const OptionName& option) {
  if (arg.size() > option.shortName.size() &&
      arg.substr(0, option.shortName.size()) == option.shortName) {
    return arg.substr(option.shortName.size());
  }
  const std::string_view longName = option.longName;
  if (arg.size() > longName.size() && arg.substr(0, longName.size()) == longName &&
      arg[longName.size()] == '=') {
    return arg.substr(longName.size() + 1);
  }
  return std::nullopt;
}

bool IsOption(std::string_view arg, const OptionName& option) {
  return arg == option.shortName || arg == option.longName;
}

std::string Trim(std::string_view text) {
  const char* blanks = " \t\r\n";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(blanks);
  return std::string(text.substr(first, last - first + 1));
}

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// "DOMAIN\USER" or "DOMAIN/USER" into its parts; a plain name keeps the domain.
void SplitDomainUser(const std::string& text, std::string* domain, std::string* user) {
  const std::size_t separator = text.find_first_of("\\/");
  if (separator == std::string::npos) {
    *user = text;
    return;
  }
  *domain = text.substr(0, separator);
  *user = text.substr(separator + 1);
}

std::size_t FirstLineLength(const std::string& text) {
  std::size_t length = std::min(text.find('\n'), text.size());
  if (length > 0 && text[length - 1] == '\r') --length;
  return length;
}

bool ReadAuthenticationFile(const std::string& path, const CredentialSources& sources,
                            Credentials* credentials, bool* havePassword,
                            std::vector<std::string>* warnings, std::string* error) {
  SecretString text;
  bool readableByOthers = false;
  std::string why;
  if (!sources.readFile || !sources.readFile(path, &text, &readableByOthers, &why)) {
    *error = "cannot read the credentials file " + path + ": " + why;
    return false;
  }
  if (readableByOthers) {
    warnings->push_back("warning: the credentials file " + path +
                        " may be read by its group or by others; chmod 600 it");
  }
  // Editors on Windows may start the file with a UTF-8 byte-order mark.
  std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const SecretString line = Trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || line[0] == ';' || equals == std::string::npos) continue;
    const std::string key = Lower(Trim(std::string_view(line).substr(0, equals)));
    const SecretString value = Trim(std::string_view(line).substr(equals + 1));
    if (key == "username") {
      SplitDomainUser(value, &credentials->domain, &credentials->username);
    } else if (key == "password") {
      credentials->password = value;
      *havePassword = true;
    } else if (key == "domain") {
      credentials->domain = value;
    }
  }
  if (credentials->username.empty()) {
    *error = "the credentials file " + path + " names no user (a line \"username = NAME\")";
    return false;
  }
  return true;
}

}  // namespace

const char* const kCredentialOptionsHelp =
    "  -U, --user [DOMAIN\\]USER[%PASSWORD]  log on as USER (PASSWD, PASSWD_FILE or a prompt\n"
    "                                      give the password when it is left out)\n"
    "  -A, --authentication-file FILE      lines \"username = \", \"password = \", \"domain = \"\n"
    "  -k, --kerberos                      use the Kerberos tickets of KRB5CCNAME's cache\n"
    "  (none of them: the current user's Kerberos ticket, if there is one)\n";

namespace {

const OptionName* CredentialOptionNamed(std::string_view spelled) {
  for (const OptionName* option : {&kUserOption, &kFileOption, &kKerberosOption}) {
    if (IsOption(spelled, *option)) return option;
  }
  return nullptr;
}

}  // namespace

bool CredentialOptionReader::Names(std::string_view spelled) {
  return CredentialOptionNamed(spelled) != nullptr;
}

bool CredentialOptionReader::Take(std::string_view spelled, const std::string_view* value,
                                  std::string* error) {
  const OptionName* option = CredentialOptionNamed(spelled);
  if (option == nullptr) return true;
  // Each of them names who to log on as: two of them (or one twice) would
  // leave it to the program which one counts.
  if (!given_.empty()) {
    *error = given_ == option->shortName
                 ? std::string(given_) + " is given twice"
                 : std::string(given_) + " and " + std::string(option->shortName) +
                       " are given together";
    *error += ": give one of -U, -A and -k, once";
    return false;
  }
  given_ = option->shortName;
  if (option == &kKerberosOption) {
    options_->kerberos = true;
    return true;
  }
  if (value == nullptr) {
    *error = "option " + std::string(spelled) + " needs a value";
    return false;
  }
  if (option == &kUserOption) {
    options_->user.emplace();
    options_->user->assign(value->data(), value->size());
  } else {
    options_->authenticationFile.assign(value->data(), value->size());
  }
  return true;
}

bool TakeCredentialOptions(std::vector<std::string>* args, CredentialOptions* options,
                           std::string* error) {
  std::vector<std::string> rest;
  CredentialOptionReader reader(options);
  for (std::size_t i = 0; i < args->size(); ++i) {
    const std::string& arg = (*args)[i];
    if (arg == "--") {
      rest.insert(rest.end(), args->begin() + static_cast<std::ptrdiff_t>(i), args->end());
      break;
    }
    if (IsOption(arg, kKerberosOption)) {
      if (!reader.Take(arg, nullptr, error)) return false;
      continue;
    }
    const OptionName* option = nullptr;
    for (const OptionName* candidate : {&kUserOption, &kFileOption}) {
      if (option == nullptr && (IsOption(arg, *candidate) || AttachedValue(arg, *candidate)))
        option = candidate;
    }
    if (option == nullptr) {
      rest.push_back(arg);
      continue;
    }
    const std::optional<std::string_view> attached = AttachedValue(arg, *option);
    // The spelling as given names the option in a message; "-Uvalue" has its value.
    const std::string_view spelled = attached ? option->shortName : std::string_view(arg);
    std::string_view value;
    bool valueGiven = attached.has_value();
    std::size_t valueAt = i;
    if (attached) {
      value = *attached;
    } else if (i + 1 < args->size()) {
      valueAt = ++i;
      value = (*args)[valueAt];
      valueGiven = true;
    }
    if (!reader.Take(spelled, valueGiven ? &value : nullptr, error)) return false;
    // The taken -U value is wiped where it was: the old arguments are freed.
    if (option == &kUserOption) WipeString(&(*args)[valueAt]);
  }
  *args = std::move(rest);
  return true;
}

void HidePasswordsInArgv(int argc, char** argv) {
  const auto blank = [](char* value) {
    char* percent = value != nullptr ? std::strchr(value, '%') : nullptr;
    if (percent == nullptr) return;
    KeepOutOfCoreDumps();
    WipeMemory(percent + 1, std::strlen(percent + 1));
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (IsOption(arg, kUserOption)) {
      if (i + 1 < argc) blank(argv[++i]);
    } else if (AttachedValue(arg, kUserOption)) {
      blank(argv[i]);
    } else if (IsOption(arg, kFileOption)) {
      ++i;  // a file name, never a password; it may hold a '%'
    }
  }
}

void WipeArguments(std::vector<std::string>* args) {
  for (std::string& arg : *args) WipeString(&arg);
}

bool ResolveCredentials(const CredentialOptions& options, const CredentialSources& sources,
                        Credentials* credentials, std::vector<std::string>* warnings,
                        std::string* error) {
  *credentials = Credentials{};
  const auto environment = [&](const char* name) -> std::string {
    if (!sources.environment) return {};
    return sources.environment(name).value_or(std::string());
  };
  const auto haveTicket = [&](const std::string& ccache, std::string* why) {
    return sources.haveKerberosTicket && sources.haveKerberosTicket(ccache, why);
  };

  if (options.kerberos) {
    credentials->kerberos = true;
    credentials->ccache = environment("KRB5CCNAME");
    std::string why;
    if (!haveTicket(credentials->ccache, &why)) {
      *error = "-k: no Kerberos ticket to use" + (why.empty() ? "" : " (" + why + ")");
      // The reason may already say what to run.
      if (why.find("kinit") == std::string::npos) *error += "; get one with kinit";
      return false;
    }
    return true;
  }

  bool havePassword = false;
  if (!options.authenticationFile.empty() &&
      !ReadAuthenticationFile(options.authenticationFile, sources, credentials, &havePassword,
                              warnings, error)) {
    return false;
  }
  if (options.user) {
    SecretString account = *options.user;
    const std::size_t percent = account.find('%');
    if (percent != std::string::npos) {
      credentials->password.assign(account, percent + 1);
      havePassword = true;
      account.resize(percent);
    }
    credentials->username.clear();
    SplitDomainUser(account, &credentials->domain, &credentials->username);
    if (credentials->username.empty()) {
      *error = "-U: no user name in \"" + account + "\"";
      return false;
    }
  }

  if (credentials->username.empty()) {
    // Nothing given: the current user's ticket, as the Windows program runs
    // with its user's logon.
    credentials->kerberos = true;
    credentials->ccache = environment("KRB5CCNAME");
    std::string why;
    if (haveTicket(credentials->ccache, &why)) return true;
    *error =
        "no credentials: give -U [DOMAIN\\]USER[%PASSWORD], -A FILE, or -k with a Kerberos "
        "ticket (none found" +
        (why.empty() ? std::string() : ": " + why) + ")";
    return false;
  }
  if (havePassword) return true;

  if (std::optional<std::string> password =
          sources.environment ? sources.environment("PASSWD") : std::nullopt) {
    credentials->password = *password;
    WipeString(&*password);
    return true;
  }
  const std::string passwordFile = environment("PASSWD_FILE");
  if (!passwordFile.empty()) {
    SecretString text;
    bool readableByOthers = false;
    std::string why;
    if (!sources.readFile || !sources.readFile(passwordFile, &text, &readableByOthers, &why)) {
      *error = "cannot read PASSWD_FILE " + passwordFile + ": " + why;
      return false;
    }
    if (readableByOthers) {
      warnings->push_back("warning: the password file " + passwordFile +
                          " may be read by its group or by others; chmod 600 it");
    }
    credentials->password.assign(text, 0, FirstLineLength(text));
    return true;
  }
  const std::string account = credentials->domain.empty()
                                  ? credentials->username
                                  : credentials->domain + "\\" + credentials->username;
  if (sources.promptPassword) {
    if (std::optional<std::string> typed =
            sources.promptPassword("Password for " + account + ": ")) {
      credentials->password = *typed;
      WipeString(&*typed);
      return true;
    }
  }
  *error = "no password for " + account +
           " and no terminal to ask on: give it with -U USER%PASSWORD, -A FILE, PASSWD or "
           "PASSWD_FILE";
  return false;
}

}  // namespace glimmora::cli
