#include "inventory/rpc/smb_session.h"

#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

#include "inventory/registry/registry_access.h"
#include "inventory/rpc/kerberos_cache.h"
#include "inventory/rpc/pipe_call.h"
#include "inventory/rpc/rpc_pipe_samba.h"
#include "reachability/probe_tcp.h"

namespace glimmora {
namespace {

using Clock = std::chrono::steady_clock;

// What opening the pipe needs, owned: an open abandoned at the deadline goes
// on on a thread of its own, after the back end may be gone.
struct PipeRequest {
  std::string host;
  std::string pipeName;
  glimmora_rpc_interface interfaceId = GLIMMORA_RPC_WINREG;
  bool useKerberos = false;
  std::string ccache;
  std::string username;
  std::string domain;
  SecretString password;
  Clock::time_point deadline;
  unsigned requestTimeoutS = 30;
  // Zero: a failed open is not tried again.
  std::chrono::milliseconds serviceStartWait{0};
};

struct OpenedPipe {
  std::uint32_t status = 0;
  UniquePipe pipe;
};

// Opens the pipe until the deadline. A service that Windows starts on the
// first open of its pipe (the Remote Registry service is trigger-started) is
// not there yet for that open: the pipe is not found, not available or busy,
// or the connection drops. That open is tried once more after a moment.
OpenedPipe OpenPipe(const PipeRequest& request) {
  glimmora_rpc_params params{};
  params.host = request.host.c_str();
  params.pipe_name = request.pipeName.c_str();
  params.interface_id = request.interfaceId;
  params.use_kerberos = request.useKerberos ? 1 : 0;
  params.ccache = request.ccache.empty() ? nullptr : request.ccache.c_str();
  params.username = request.username.c_str();
  params.domain = request.domain.c_str();
  params.password = request.password.c_str();
  params.deadline_ms = MonotonicMs(request.deadline);
  params.request_timeout_s = request.requestTimeoutS;

  glimmora_rpc_pipe* opened = nullptr;
  std::uint32_t status = glimmora_rpc_open(&params, &opened);
  if (ServiceMayBeStarting(status) && request.serviceStartWait.count() > 0 &&
      Clock::now() + request.serviceStartWait < request.deadline) {
    std::this_thread::sleep_for(request.serviceStartWait);
    status = glimmora_rpc_open(&params, &opened);
  }
  return OpenedPipe{status, UniquePipe(status == 0 ? opened : nullptr)};
}

// "\\NAME" is accepted as Windows does, and an IPv6 address in brackets.
std::string HostOf(const std::string& machineName) {
  std::string host = machineName;
  if (host.rfind("\\\\", 0) == 0) host.erase(0, 2);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
      host.find(':') != std::string::npos) {
    host = host.substr(1, host.size() - 2);
  }
  return host;
}

}  // namespace

void RpcPipeTraits::Close(Handle pipe) noexcept {
  glimmora_rpc_close(pipe);
}

SmbPipeOpener::SmbPipeOpener(RpcCredentials credentials, SmbSessionOptions options)
    : credentials_(std::move(credentials)),
      options_(std::move(options)),
      logons_(options_.maxLogonFailures) {}

unsigned SmbPipeOpener::RequestTimeoutS() const {
  return static_cast<unsigned>(
      std::max<std::chrono::seconds::rep>(1, options_.requestTimeout.count()));
}

std::string SmbPipeOpener::SystemMessageText(long code) const {
  std::string text = options_.systemMessages ? options_.systemMessages(code) : std::string();
  return CutUtf8(std::move(text), kMaxMessageBytes);
}

long SmbPipeOpener::Fail(long code, ConnectHint hint, std::string* description) const {
  *description = DescribeFailure(SystemMessageText(code), hint);
  return code;
}

std::string SmbPipeOpener::Account() const {
  if (credentials_.useKerberos) {
    const TicketCache cache = ReadTicketCache(credentials_.ccache);
    return cache.principal.empty() ? "the Kerberos ticket's account" : cache.principal;
  }
  return credentials_.domain.empty() ? credentials_.username
                                     : credentials_.domain + "\\" + credentials_.username;
}

bool SmbPipeOpener::LogonsStopped(std::string* account) const {
  if (!logons_.Stopped()) return false;
  if (account != nullptr) *account = Account();
  return true;
}

void SmbPipeOpener::LendSession(const std::string& machineName, glimmora_rpc_pipe* pipe) {
  std::lock_guard lock(loansMutex_);
  loans_[{HostOf(machineName), std::this_thread::get_id()}] = pipe;
}

void SmbPipeOpener::EndLoan(glimmora_rpc_pipe* pipe) {
  std::lock_guard lock(loansMutex_);
  std::erase_if(loans_, [pipe](const auto& loan) { return loan.second == pipe; });
}

glimmora_rpc_pipe* SmbPipeOpener::LentSession(const std::string& host) {
  std::lock_guard lock(loansMutex_);
  const auto found = loans_.find({host, std::this_thread::get_id()});
  return found == loans_.end() ? nullptr : found->second;
}

long SmbPipeOpener::OpenPipeWithin(const std::string& machineName, const std::string& pipeName,
                                   int interfaceId, const Deadline& examination, UniquePipe* pipe,
                                   std::string* description) {
  pipe->reset();
  const std::string host = HostOf(machineName);
  if (host.empty()) return Fail(kErrorBadNetPath, ConnectHint::kNone, description);
  if (logons_.Stopped())
    return Fail(kErrorRequestAborted, ConnectHint::kLogonsStopped, description);

  // The connect time-out, or what is left of the examination when that is shorter.
  const Deadline connectDeadline = examination.Within(options_.connectTimeout);
  if (connectDeadline.Passed()) return Fail(kErrorTimeout, ConnectHint::kNone, description);

  if (glimmora_rpc_pipe* session = LentSession(host)) {
    const long code =
        OpenBeside(session, host, pipeName, interfaceId, connectDeadline, pipe, description);
    if (code != kErrorRequestAborted) return code;
  }

  // The service manager's pipe is always there: only the registry's may
  // still be starting.
  const bool registry = interfaceId == GLIMMORA_RPC_WINREG;
  PipeRequest request{host,
                      pipeName,
                      static_cast<glimmora_rpc_interface>(interfaceId),
                      credentials_.useKerberos,
                      credentials_.ccache,
                      credentials_.username,
                      credentials_.domain,
                      credentials_.password,
                      *connectDeadline.At(),
                      RequestTimeoutS(),
                      registry ? options_.serviceStartWait : std::chrono::milliseconds(0)};
  // Kerberos asks the KDC for a ticket inside the library's logon, a wait
  // that the connect's own time-out does not end (a KDC that does not
  // answer): that open is waited for only until the deadline.
  std::optional<OpenedPipe> open =
      credentials_.useKerberos
          ? CallBeforeDeadline<OpenedPipe>(connectDeadline, [request] { return OpenPipe(request); })
          : std::optional<OpenedPipe>(OpenPipe(request));
  if (!open) return Fail(kErrorTimeout, ConnectHint::kNone, description);
  const std::uint32_t status = open->status;
  if (status == 0) {
    logons_.Count(true);
    *pipe = std::move(open->pipe);
    return kErrorSuccess;
  }
  return Failed(status, host, registry, connectDeadline, description);
}

// A pipe on a session already logged on: no logon to count, nor to try again.
// A session that broke meanwhile gives kErrorRequestAborted: the caller opens
// a session of its own.
long SmbPipeOpener::OpenBeside(glimmora_rpc_pipe* session, const std::string& host,
                               const std::string& pipeName, int interfaceId,
                               const Deadline& connectDeadline, UniquePipe* pipe,
                               std::string* description) {
  glimmora_rpc_pipe* opened = nullptr;
  const std::uint32_t status = glimmora_rpc_open_beside(
      session, pipeName.c_str(), static_cast<glimmora_rpc_interface>(interfaceId),
      MonotonicMs(*connectDeadline.At()), RequestTimeoutS(), &opened);
  if (status == 0) {
    *pipe = UniquePipe(opened);
    return kErrorSuccess;
  }
  if (status == kStatusConnectionDisconnected || status == kStatusIoTimeout)
    return kErrorRequestAborted;
  return Failed(status, host, interfaceId == GLIMMORA_RPC_WINREG, connectDeadline, description);
}

long SmbPipeOpener::Failed(std::uint32_t status, const std::string& host, bool registry,
                           const Deadline& connectDeadline, std::string* description) {
  // Whether port 445 answers is asked only once the connect has failed (on a
  // real link the probe costs a round trip): a host that refuses, stays
  // silent or has no address fails as unreachable whatever the library said.
  // An invalid name is that, whatever the port.
  if (status != kStatusInvalidParameter &&
      ProbeSmbPort(host, connectDeadline) != PortReach::kReachable) {
    return Fail(kErrorBadNetPath, ConnectHint::kNone, description);
  }
  if (credentials_.useKerberos && glimmora_rpc_name_is_plain(host.c_str()) &&
      TicketMayBeTheCause(status)) {
    // The library's own codes for a ticket it cannot use say little ("invalid
    // parameter", "Unknown error -1765328189"): the cache is looked at here.
    if (const std::string why = DiagnoseKerberos(credentials_.ccache, host); !why.empty()) {
      logons_.Count(false);
      const std::string text = SystemMessageText(kErrorLogonFailure);
      *description = CutUtf8(text + (text.empty() ? "(" : " (") + why + ")", kMaxMessageBytes);
      return kErrorLogonFailure;
    }
  }
  const std::optional<ConnectFailureRule> rule = ClassifyConnectFailure(status, registry);
  if (!rule) {
    return Fail(static_cast<long>(glimmora_rpc_ntstatus_to_win32(status)), ConnectHint::kNone,
                description);
  }
  if (rule->logonRefused) logons_.Count(false);
  return Fail(rule->code, rule->hint, description);
}

}  // namespace glimmora
