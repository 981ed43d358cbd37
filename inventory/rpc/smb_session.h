#pragma once
// Linux: a named pipe of a workstation opened over an SMB session of its own,
// as the registry's winreg pipe and the service manager's svcctl pipe are
// both opened: the logon on the back end's credentials, the connect time-out
// within the examination's deadline, the one more try of a service Windows
// starts on the first open of its pipe, and the failure in the user's words.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "common/deadline.h"
#include "common/secret_memory.h"
#include "common/unique_handle.h"
#include "inventory/rpc/connect_failure.h"
#include "inventory/rpc/logon_guard.h"

struct glimmora_rpc_pipe;  // inventory/rpc/rpc_pipe_samba.h

namespace glimmora {

// Who the back end logs on as: NTLM with a user name and password, or
// Kerberos with the tickets of a credential cache.
struct RpcCredentials {
  bool useKerberos = false;
  std::string ccache;  // empty: the default cache (KRB5CCNAME)
  std::string username;
  std::string domain;
  SecretString password;  // wiped when the back end goes
};

// An open pipe, with its session, closed when it goes.
struct RpcPipeTraits {
  using Handle = glimmora_rpc_pipe*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle pipe) noexcept;
};
using UniquePipe = UniqueHandle<RpcPipeTraits>;

struct SmbSessionOptions {
  // The whole connect: name resolution aside, TCP, SMB session, pipe and bind.
  std::chrono::milliseconds connectTimeout{10000};
  // Each call once connected.
  std::chrono::seconds requestTimeout{30};
  // How long a first open of the registry's pipe that finds the service
  // still starting waits before the one more try.
  std::chrono::milliseconds serviceStartWait{1000};
  // Logons stop after this many failures in a row; 0: never.
  int maxLogonFailures = 2;
  // Base texts of Windows error codes; the failures add their hints.
  std::function<std::string(long)> systemMessages;
};

class SmbPipeOpener {
 public:
  SmbPipeOpener(RpcCredentials credentials, SmbSessionOptions options);

  // Opens \pipe\<pipeName> of the workstation bound to the interface
  // (glimmora_rpc_interface) until the connect time-out within `deadline`,
  // the logon failures counted. On success *pipe holds it; otherwise the
  // Windows code, and *description says why.
  long OpenPipeWithin(const std::string& machineName, const std::string& pipeName, int interfaceId,
                      const Deadline& deadline, UniquePipe* pipe, std::string* description);

  // While a pipe is lent, pipes this thread opens to the same workstation
  // open on its SMB session: the service manager's pipe lends its session to
  // the registry's, one logon for both. The lender ends the loan before it
  // closes the pipe.
  void LendSession(const std::string& machineName, glimmora_rpc_pipe* pipe);
  void EndLoan(glimmora_rpc_pipe* pipe);

  // The bound on each call once connected, in seconds.
  unsigned RequestTimeoutS() const;
  // The system's text of a Windows code, cut to what the scan keeps.
  std::string SystemMessageText(long code) const;
  // Whether logons have stopped after failures in a row; *account names who
  // would have logged on.
  bool LogonsStopped(std::string* account) const;

 private:
  long Fail(long code, ConnectHint hint, std::string* description) const;
  std::string Account() const;

  long OpenBeside(glimmora_rpc_pipe* session, const std::string& host, const std::string& pipeName,
                  int interfaceId, const Deadline& connectDeadline, UniquePipe* pipe,
                  std::string* description);
  long Failed(std::uint32_t status, const std::string& host, bool registry,
              const Deadline& connectDeadline, std::string* description);
  glimmora_rpc_pipe* LentSession(const std::string& host);

  const RpcCredentials credentials_;
  const SmbSessionOptions options_;
  LogonFailureGuard logons_;
  std::mutex loansMutex_;
  std::map<std::pair<std::string, std::thread::id>, glimmora_rpc_pipe*> loans_;
};

}  // namespace glimmora
