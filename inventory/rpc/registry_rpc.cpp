#include "inventory/rpc/registry_rpc.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <krb5.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>

#include "common/deadline.h"
#include "common/unique_fd.h"
#include "common/unique_handle.h"
#include "inventory/ansi_conversion.h"
#include "inventory/registry/registry_scan.h"
#include "inventory/rpc/rpc_pipe_samba.h"
#include "inventory/rpc/service_manager_rpc.h"
#include "resources/texts.h"

namespace glimmora {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSmbPort = "445";

// NTSTATUS values the connect tells apart.
constexpr std::uint32_t kStatusAccessDenied = 0xC0000022;
constexpr std::uint32_t kStatusObjectNameNotFound = 0xC0000034;
constexpr std::uint32_t kStatusNoMemory = 0xC0000017;
constexpr std::uint32_t kStatusPipeNotAvailable = 0xC00000AC;
constexpr std::uint32_t kStatusIoTimeout = 0xC00000B5;
constexpr std::uint32_t kStatusInvalidParameter = 0xC000000D;
constexpr std::uint32_t kStatusPipeBusy = 0xC00000AE;
constexpr std::uint32_t kStatusLogonFailure = 0xC000006D;
constexpr std::uint32_t kStatusNtlmBlocked = 0xC0000418;
constexpr std::uint32_t kStatusConnectionReset = 0xC000020D;
constexpr std::uint32_t kStatusConnectionDisconnected = 0xC000020C;
constexpr std::uint32_t kStatusEndOfFile = 0xC0000011;

constexpr long kErrorNtlmBlocked = 1937;

// The longest system message text the scan keeps (its buffer holds 259 bytes).
constexpr std::size_t kMaxMessageBytes = 258;

struct PipeTraits {
  using Handle = glimmora_rpc_pipe*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle pipe) noexcept { glimmora_rpc_close(pipe); }
};
using UniquePipe = UniqueHandle<PipeTraits>;

using UniqueSocket = UniqueFd;

struct AddrInfoTraits {
  using Handle = addrinfo*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle list) noexcept { freeaddrinfo(list); }
};
using UniqueAddrInfo = UniqueHandle<AddrInfoTraits>;

// Why a connect failed, when the code alone would not tell the user what to
// do: a text added to the failure's description.
enum class ConnectHint {
  kNone,
  kServiceStopped,
  kAdministratorsOnly,
  kNtlmRefused,
  kLogonsStopped,
};

std::string HintText(ConnectHint hint) {
  switch (hint) {
    case ConnectHint::kServiceStopped:
      return LoadText(kTextHintServiceStopped);
    case ConnectHint::kAdministratorsOnly:
      return LoadText(kTextHintAdministratorsOnly);
    case ConnectHint::kNtlmRefused:
      return LoadText(kTextHintNtlmRefused);
    case ConnectHint::kLogonsStopped:
      return LoadText(kTextHintLogonsStopped);
    case ConnectHint::kNone:
      break;
  }
  return {};
}

// A Kerberos library context for one diagnosis; the messages of its codes.
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

std::string LocalTimeText(krb5_timestamp when) {
  const std::time_t t = static_cast<std::time_t>(static_cast<std::uint32_t>(when));
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local);
  return text;
}

// What the credential cache holds: its full name, the principal, and its
// ticket-granting tickets of the principal's own realm.
struct TicketCache {
  bool opened = false;
  std::string name;       // "FILE:/tmp/krb5cc_0"
  std::string principal;  // "alice@EXAMPLE.TEST"
  std::string realm;
  bool haveTicket = false;     // one that has not expired
  krb5_timestamp expired = 0;  // the latest end of those that have
  std::string failure;         // why the cache could not be read
};

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
    const krb5_timestamp now = static_cast<krb5_timestamp>(std::time(nullptr));
    krb5_creds creds;
    while (krb5_cc_next_cred(kc, cache, &cursor, &creds) == 0) {
      if (!krb5_is_config_principal(kc, creds.server)) {
        if (static_cast<std::uint32_t>(creds.times.endtime) > static_cast<std::uint32_t>(now)) {
          result.haveTicket = true;
        } else if (static_cast<std::uint32_t>(creds.times.endtime) >
                   static_cast<std::uint32_t>(result.expired)) {
          result.expired = creds.times.endtime;
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

// Why a cache cannot log on at all, in words; empty when it holds a ticket.
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

bool IsAddressLiteral(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

// Why Kerberos could not log on to the host, in words naming the cache; empty
// when nothing wrong can be found on this side.
std::string DiagnoseKerberos(const std::string& ccache, const std::string& host) {
  const KerberosContext context;
  if (context.get() == nullptr) return "Kerberos is not set up on this machine";
  const TicketCache cache = ReadTicketCache(context, ccache);
  std::string problem = TicketCacheProblem(cache);
  if (!problem.empty()) return problem;
  if (IsAddressLiteral(host)) {
    return "Kerberos needs the workstation's host name, not its address " + host;
  }
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
  if (!hostRealm.empty() && strcasecmp(hostRealm.c_str(), cache.realm.c_str()) != 0) {
    return "the Kerberos ticket in " + cache.name + " is of " + cache.principal + "; " + host +
           " belongs to realm " + hostRealm + ": get a ticket of that realm with kinit";
  }
  return {};
}

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

// A connect's failure: its code, and its description with the hint added.
long Describe(RegistryAccess& access, long code, ConnectHint hint, std::string* description) {
  std::string text = access.SystemMessageText(code);
  if (hint != ConnectHint::kNone) {
    if (!text.empty()) text += ' ';
    text += HintText(hint);
  }
  *description = CutUtf8(std::move(text), kMaxMessageBytes);
  return code;
}

enum class Reach { kReachable, kRefused, kSilent, kUnresolved };

// Tries TCP port 445 of every address of the host until the deadline. Samba's
// connect reports a refused connection as "no memory", so once a connect has
// failed this tells a host that cannot be reached from other failures.
Reach ProbeSmbPort(const std::string& host, const Deadline& deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // The lookup has no time-out of its own: it is waited for until the
  // deadline only, and one given up on counts as a name not resolved.
  UniqueAddrInfo addresses = CallBeforeDeadline<UniqueAddrInfo>(deadline, [host, hints] {
                               addrinfo* found = nullptr;
                               if (getaddrinfo(host.c_str(), kSmbPort, &hints, &found) != 0)
                                 return UniqueAddrInfo();
                               return UniqueAddrInfo(found);
                             }).value_or(UniqueAddrInfo());
  if (!addresses) return Reach::kUnresolved;
  Reach result = Reach::kSilent;
  for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
    UniqueSocket fd(
        ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd) continue;
    int error = 0;
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      if (errno != EINPROGRESS) {
        error = errno;
      } else {
        pollfd watch{fd.get(), POLLOUT, 0};
        int ready = 0;
        // In slices, so that a stop request ends the wait as well as the deadline.
        do {
          const auto left = deadline.TimeLeftWithin(kDeadlineStopPoll);
          if (left.count() <= 0) return result;
          ready = ::poll(&watch, 1, static_cast<int>(left.count()));
        } while (ready == 0 || (ready < 0 && errno == EINTR));
        if (ready < 0) return result;
        socklen_t length = sizeof error;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      }
    }
    if (error == 0) return Reach::kReachable;
    if (error == ECONNREFUSED) result = Reach::kRefused;
  }
  return result;
}

std::int64_t MonotonicMs(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void AppendResponse(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<winreg::Bytes*>(context)->assign(data, data + length);
}

// The Windows code of a call the transport failed.
long TransportCode(std::uint32_t status) {
  if (status == kStatusIoTimeout) return kErrorTimeout;
  return static_cast<long>(glimmora_rpc_ntstatus_to_win32(status));
}

}  // namespace

struct RpcRegistryAccess::Connection final : WinregWaves {
  UniquePipe pipe;
  unsigned requestTimeoutS = 30;
  // The examination's deadline, which every call and wave keeps within.
  Deadline deadline;
  std::mutex callMutex;  // one call or wave at a time on the pipes' event context
  bool closed = false;   // guarded by callMutex
  // A call came to no answer (the server went away, the link broke, the
  // time-out passed): what fails now says nothing about the key asked for.
  // Every call after it fails with lostCode.
  std::atomic<bool> lost{false};
  std::atomic<long> lostCode{kErrorInvalidHandle};
  // The display subtree read ahead, once.
  std::mutex snapshotMutex;
  std::shared_ptr<const RegistrySnapshot> snapshot;  // guarded by snapshotMutex

  void MarkLost(long code) {
    lostCode = code;
    lost = true;
  }
  bool Lost(long* code) const {
    if (!lost) return false;
    *code = lostCode;
    return true;
  }
  std::shared_ptr<const RegistrySnapshot> Snapshot() {
    std::lock_guard lock(snapshotMutex);
    return snapshot;
  }

  void Run(std::vector<WinregCall>& calls) override {
    std::lock_guard lock(callMutex);
    const auto failAll = [&](long code) {
      for (WinregCall& call : calls) {
        call.transport = code;
        call.broken = true;
      }
    };
    if (closed) return failAll(kErrorInvalidHandle);
    if (deadline.TimeLeftWithin(std::chrono::seconds(requestTimeoutS)).count() <= 0) {
      return failAll(kErrorTimeout);
    }
    const std::optional<Clock::time_point> at = deadline.At();
    std::vector<glimmora_rpc_request> requests(calls.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
      calls[i].response.clear();
      requests[i] = {calls[i].opnum,
                     calls[i].request.data(),
                     calls[i].request.size(),
                     &calls[i].response,
                     0,
                     0};
    }
    glimmora_rpc_wave(pipe.get(), requests.data(), requests.size(), requestTimeoutS,
                      at ? std::max<std::int64_t>(1, MonotonicMs(*at)) : 0, AppendResponse);
    for (std::size_t i = 0; i < calls.size(); ++i) {
      calls[i].broken = requests[i].status != 0;
      calls[i].transport = calls[i].broken          ? TransportCode(requests[i].status)
                           : requests[i].big_endian ? kErrorBadStubData
                                                    : kErrorSuccess;
    }
  }
  std::size_t Width() override { return glimmora_rpc_pipe_count(pipe.get()); }

  // One request and its answer; a transport failure gives its Windows code.
  long Call(std::uint16_t opnum, const winreg::Bytes& request, winreg::Bytes* response) {
    std::lock_guard lock(callMutex);
    if (closed) return kErrorInvalidHandle;
    int bigEndian = 0;
    response->clear();
    // A caller under a deadline (a batch's workstation) has only what is left of it.
    const auto left = deadline.TimeLeftWithin(std::chrono::seconds(requestTimeoutS));
    if (left.count() <= 0) return kErrorTimeout;
    const auto timeoutS =
        static_cast<unsigned>(std::chrono::ceil<std::chrono::seconds>(left).count());
    const std::uint32_t status =
        glimmora_rpc_call(pipe.get(), opnum, request.data(), request.size(), timeoutS,
                          AppendResponse, response, &bigEndian);
    if (status != 0) {
      MarkLost(TransportCode(status));
      return TransportCode(status);
    }
    // Our parsers read little-endian; servers answer little-endian callers so.
    if (bigEndian) return kErrorBadStubData;
    return kErrorSuccess;
  }

  void Close() {
    std::lock_guard lock(callMutex);
    closed = true;
    pipe.reset();
  }
};

bool KerberosTicketAvailable(const std::string& ccache, std::string* why) {
  // What `klist -s` tells: a ticket in the cache that has not expired.
  krb5_context context = nullptr;
  if (krb5_init_context(&context) != 0) {
    if (why != nullptr) *why = "Kerberos is not set up on this machine";
    return false;
  }
  const auto message = [&](krb5_error_code code) {
    const char* text = krb5_get_error_message(context, code);
    std::string copy = text != nullptr ? text : "unknown Kerberos error";
    krb5_free_error_message(context, text);
    return copy;
  };
  krb5_ccache cache = nullptr;
  krb5_error_code code = ccache.empty() ? krb5_cc_default(context, &cache)
                                        : krb5_cc_resolve(context, ccache.c_str(), &cache);
  bool found = false;
  std::string reason;
  krb5_cc_cursor cursor = nullptr;
  if (code == 0) code = krb5_cc_start_seq_get(context, cache, &cursor);
  if (code != 0) {
    reason = message(code);
  } else {
    const krb5_timestamp now = static_cast<krb5_timestamp>(std::time(nullptr));
    krb5_creds creds;
    while (krb5_cc_next_cred(context, cache, &cursor, &creds) == 0) {
      if (!krb5_is_config_principal(context, creds.server) && creds.times.endtime > now) {
        found = true;
      }
      krb5_free_cred_contents(context, &creds);
    }
    krb5_cc_end_seq_get(context, cache, &cursor);
    if (!found) reason = "no ticket in the cache that has not expired";
  }
  if (cache != nullptr) krb5_cc_close(context, cache);
  krb5_free_context(context);
  if (!found && why != nullptr) {
    // The cache named, and an expired ticket told from none, in words.
    const KerberosContext words;
    const std::string problem =
        words.get() != nullptr ? TicketCacheProblem(ReadTicketCache(words, ccache)) : "";
    *why = problem.empty() ? reason : problem;
  }
  return found;
}

RpcRegistryAccess::RpcRegistryAccess(RpcCredentials credentials, RpcOptions options)
    : credentials_(std::move(credentials)),
      options_(std::move(options)),
      serviceManager_(std::make_unique<RpcServiceManager>(*this)) {}

ServiceManagerAccess* RpcRegistryAccess::ServiceManager() {
  return serviceManager_.get();
}

RpcRegistryAccess::~RpcRegistryAccess() {
  // Keys still open are closed with their connections; the server drops its
  // handles with the session.
  std::lock_guard lock(mutex_);
  for (auto& [key, entry] : keys_) {
    if (entry.isRoot) entry.connection->Close();
  }
}

void RpcRegistryAccess::CountLogon(bool succeeded) {
  std::lock_guard lock(mutex_);
  if (succeeded) {
    logonFailuresInARow_ = 0;
  } else if (options_.maxLogonFailures > 0 && ++logonFailuresInARow_ >= options_.maxLogonFailures) {
    logonsStopped_ = true;
  }
}

bool RpcRegistryAccess::ConnectionLost(RegKey key) {
  KeyEntry entry;
  return FindKey(key, &entry) && entry.connection->lost.load();
}

unsigned RpcRegistryAccess::PipeCount(RegKey key) {
  KeyEntry entry;
  return FindKey(key, &entry) ? entry.connection->Width() : 0;
}

bool RpcRegistryAccess::FindKey(RegKey key, KeyEntry* entry) {
  std::lock_guard lock(mutex_);
  const auto found = keys_.find(key);
  if (found == keys_.end()) return false;
  *entry = found->second;
  return true;
}

RegKey RpcRegistryAccess::AddKey(KeyEntry entry) {
  std::lock_guard lock(mutex_);
  RegKey key;
  do {
    key = nextKey_++;
  } while (key == kNoKey || key == kHkeyLocalMachine || keys_.count(key) != 0);
  keys_.emplace(key, std::move(entry));
  return key;
}

std::string RpcRegistryAccess::Account() const {
  if (credentials_.useKerberos) {
    const KerberosContext context;
    const TicketCache cache =
        context.get() != nullptr ? ReadTicketCache(context, credentials_.ccache) : TicketCache{};
    return cache.principal.empty() ? "the Kerberos ticket's account" : cache.principal;
  }
  return credentials_.domain.empty() ? credentials_.username
                                     : credentials_.domain + "\\" + credentials_.username;
}

bool RpcRegistryAccess::LogonsStopped(std::string* account) const {
  {
    std::lock_guard lock(mutex_);
    if (!logonsStopped_) return false;
  }
  if (account != nullptr) *account = Account();
  return true;
}

namespace {

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
  const bool starting = status == kStatusObjectNameNotFound || status == kStatusPipeNotAvailable ||
                        status == kStatusPipeBusy || status == kStatusConnectionReset ||
                        status == kStatusConnectionDisconnected || status == kStatusEndOfFile;
  if (starting && request.serviceStartWait.count() > 0 &&
      Clock::now() + request.serviceStartWait < request.deadline) {
    std::this_thread::sleep_for(request.serviceStartWait);
    status = glimmora_rpc_open(&params, &opened);
  }
  return OpenedPipe{status, UniquePipe(status == 0 ? opened : nullptr)};
}

}  // namespace

unsigned RpcRegistryAccess::RequestTimeoutS() const {
  return static_cast<unsigned>(
      std::max<std::chrono::seconds::rep>(1, options_.requestTimeout.count()));
}

long RpcRegistryAccess::RegConnectRegistryA(const std::string& machineName, RegKey rootKey,
                                            RegKey* result) {
  std::string description;
  return ConnectWithin(machineName, rootKey, Deadline(), result, &description);
}

long RpcRegistryAccess::OpenPipeWithin(const std::string& machineName, const std::string& pipeName,
                                       int interfaceId, const Deadline& examination,
                                       glimmora_rpc_pipe** pipe, std::string* description) {
  *pipe = nullptr;
  const auto fail = [&](long code, ConnectHint hint = ConnectHint::kNone) {
    return Describe(*this, code, hint, description);
  };
  // "\\NAME" is accepted as Windows does, and an IPv6 address in brackets.
  std::string host = machineName;
  if (host.rfind("\\\\", 0) == 0) host.erase(0, 2);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
      host.find(':') != std::string::npos) {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) return fail(kErrorBadNetPath);  // there is no local registry here
  {
    std::lock_guard lock(mutex_);
    if (logonsStopped_) return fail(kErrorRequestAborted, ConnectHint::kLogonsStopped);
  }

  // The connect time-out, or what is left of the examination when that is shorter.
  const Deadline connectDeadline = examination.Within(options_.connectTimeout);
  if (connectDeadline.Passed()) return fail(kErrorTimeout);
  const Clock::time_point deadline = *connectDeadline.At();
  // Whether port 445 answers is asked only once the connect has failed (on a
  // real link the probe costs a round trip): a host that refuses, stays
  // silent or has no address fails as unreachable whatever the library said.
  const auto unreachable = [&] { return ProbeSmbPort(host, connectDeadline) != Reach::kReachable; };

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
                      deadline,
                      RequestTimeoutS(),
                      registry ? options_.serviceStartWait : std::chrono::milliseconds(0)};
  // Kerberos asks the KDC for a ticket inside the library's logon, a wait
  // that the connect's own time-out does not end (a KDC that does not
  // answer): that open is waited for only until the deadline.
  std::optional<OpenedPipe> open =
      credentials_.useKerberos
          ? CallBeforeDeadline<OpenedPipe>(connectDeadline, [request] { return OpenPipe(request); })
          : std::optional<OpenedPipe>(OpenPipe(request));
  if (!open) return fail(kErrorTimeout);
  const std::uint32_t status = open->status;
  if (status != 0) {
    if (status != kStatusInvalidParameter && unreachable()) return fail(kErrorBadNetPath);
    if (credentials_.useKerberos && glimmora_rpc_name_is_plain(host.c_str()) &&
        status != kStatusObjectNameNotFound && status != kStatusPipeNotAvailable &&
        status != kStatusPipeBusy && status != kStatusIoTimeout && status != kStatusNoMemory &&
        status != kStatusAccessDenied) {
      // The library's own codes for a ticket it cannot use say little ("invalid
      // parameter", "Unknown error -1765328189"): the cache is looked at here.
      if (const std::string why = DiagnoseKerberos(credentials_.ccache, host); !why.empty()) {
        CountLogon(false);
        fail(kErrorLogonFailure);
        *description = CutUtf8(*description + (description->empty() ? "(" : " (") + why + ")",
                               kMaxMessageBytes);
        return kErrorLogonFailure;
      }
    }
    switch (status) {
      case kStatusObjectNameNotFound:  // no \pipe\winreg: the service is not running
      case kStatusPipeNotAvailable:
      case kStatusPipeBusy:
        return fail(kErrorBadNetPath, registry ? ConnectHint::kServiceStopped : ConnectHint::kNone);
      case kStatusAccessDenied:
        return fail(kErrorAccessDenied, ConnectHint::kAdministratorsOnly);
      case kStatusNoMemory:  // how the library reports a refused connection
      case kStatusIoTimeout:
      case kStatusConnectionReset:
      case kStatusConnectionDisconnected:
      case kStatusEndOfFile:
        return fail(kErrorBadNetPath);
      case kStatusInvalidParameter:
        return fail(kErrorInvalidName);
      case kStatusNtlmBlocked:
        return fail(kErrorNtlmBlocked, ConnectHint::kNtlmRefused);
      case kStatusLogonFailure:
        CountLogon(false);
        return fail(kErrorLogonFailure);
      default:
        return fail(static_cast<long>(glimmora_rpc_ntstatus_to_win32(status)));
    }
  }
  CountLogon(true);
  *pipe = open->pipe.release();
  return kErrorSuccess;
}

long RpcRegistryAccess::ConnectWithin(const std::string& machineName, RegKey rootKey,
                                      const Deadline& examination, RegKey* result,
                                      std::string* description) {
  *result = kNoKey;
  if (rootKey != kHkeyLocalMachine) {
    *description = SystemMessageText(kErrorNotSupported);
    return kErrorNotSupported;
  }
  glimmora_rpc_pipe* pipe = nullptr;
  if (const long code = OpenPipeWithin(machineName, options_.pipeName, GLIMMORA_RPC_WINREG,
                                       examination, &pipe, description);
      code != kErrorSuccess) {
    return code;
  }
  const auto fail = [&](long code, ConnectHint hint = ConnectHint::kNone) {
    return Describe(*this, code, hint, description);
  };
  auto connection = std::make_shared<Connection>();
  glimmora_rpc_pipe* const opened = pipe;
  connection->pipe = UniquePipe(pipe);
  connection->requestTimeoutS = RequestTimeoutS();
  connection->deadline = examination;
  // The extra pipes open while the first one opens the root and the display key.
  if (options_.readAhead && options_.pipes > 1) {
    glimmora_rpc_start_pipes(
        opened, options_.pipes - 1,
        options_.extraPipeName.empty() ? nullptr : options_.extraPipeName.c_str());
  }

  winreg::Bytes response;
  long code = connection->Call(winreg::kOpOpenLocalMachine,
                               winreg::EncodeOpenLocalMachine(kKeyRead), &response);
  winreg::HandleResponse opened_root;
  if (code == kErrorSuccess && !winreg::ParseOpenLocalMachine(response, &opened_root)) {
    code = kErrorBadStubData;
  }
  if (code == kErrorSuccess) code = static_cast<long>(opened_root.status);
  if (code != kErrorSuccess) {
    connection->Close();
    return fail(code,
                code == kErrorAccessDenied ? ConnectHint::kAdministratorsOnly : ConnectHint::kNone);
  }
  *result = AddKey(KeyEntry{std::move(connection), opened_root.handle, true});
  return kErrorSuccess;
}

long RpcRegistryAccess::RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                                      std::uint32_t samDesired, RegKey* result) {
  *result = kNoKey;
  KeyEntry parent;
  if (!FindKey(key, &parent)) return kErrorInvalidHandle;
  Connection& connection = *parent.connection;
  // Opening the display key reads the subtree ahead, with the access the
  // scan asks for; everything the scan then opens from the root comes from it.
  if (parent.isRoot && options_.readAhead && subKey == kDisplayEnumPath && options == 0 &&
      samDesired == kKeyRead && !connection.Snapshot()) {
    // As for one call: with no time left nothing is sent, and the connection stays usable.
    if (connection.deadline.TimeLeftWithin(options_.requestTimeout).count() <= 0) {
      return kErrorTimeout;
    }
    auto snapshot = std::make_shared<const RegistrySnapshot>(ReadDisplaySubtree(
        connection, parent.handle, kMaxSnapshotSubkeys, options_.readAheadPresence));
    std::lock_guard lock(connection.snapshotMutex);
    connection.snapshot = std::move(snapshot);
  }
  if (const auto snapshot = connection.Snapshot();
      snapshot && parent.isRoot && options == 0 && samDesired == kKeyRead) {
    if (long lost = 0; connection.Lost(&lost)) return lost;
    if (const auto found = snapshot->opens.find(subKey); found != snapshot->opens.end()) {
      if (found->second.code != kErrorSuccess) return found->second.code;
      const std::size_t index = found->second.key;
      *result = AddKey(KeyEntry{parent.connection, snapshot->keys[index].handle, false, index});
      return kErrorSuccess;
    }
    if (snapshot->breakCode != 0) {
      connection.MarkLost(snapshot->breakCode);
      return snapshot->breakCode;
    }
  }
  WinregCall call;
  call.opnum = winreg::kOpOpenKey;
  if (!winreg::EncodeOpenKey(parent.handle, subKey, options, samDesired, &call.request)) {
    return kErrorInvalidName;
  }
  call.transport = connection.Call(call.opnum, call.request, &call.response);
  winreg::KeyHandle handle;
  const long code = OpenKeyAnswer(call, &handle);
  if (code != kErrorSuccess) return code;
  *result = AddKey(KeyEntry{std::move(parent.connection), handle, false});
  return kErrorSuccess;
}

long RpcRegistryAccess::RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) {
  KeyEntry entry;
  if (!FindKey(key, &entry)) return kErrorInvalidHandle;
  Connection& connection = *entry.connection;
  if (entry.snapshotKey != kLiveKey) {
    const auto snapshot = connection.Snapshot();
    const SnapshotKey& read = snapshot->keys[entry.snapshotKey];
    if (long lost = 0; connection.Lost(&lost)) return lost;
    if (index < read.subkeys.size()) {
      *name = read.subkeys[index];
      return kErrorSuccess;
    }
    if (index == read.subkeys.size() && read.enumComplete) return read.enumEnd;
    if (snapshot->breakCode != 0) {
      connection.MarkLost(snapshot->breakCode);
      return snapshot->breakCode;
    }
  }
  WinregCall call;
  call.opnum = winreg::kOpEnumKey;
  call.request = winreg::EncodeEnumKey(entry.handle, index);
  call.transport = connection.Call(call.opnum, call.request, &call.response);
  return EnumKeyAnswer(call, name);
}

long RpcRegistryAccess::RegQueryValueExA(RegKey key, const std::string& valueName,
                                         std::uint32_t* type, std::vector<std::uint8_t>* data) {
  KeyEntry entry;
  if (!FindKey(key, &entry)) return kErrorInvalidHandle;
  Connection& connection = *entry.connection;
  if (entry.snapshotKey != kLiveKey) {
    const auto snapshot = connection.Snapshot();
    const SnapshotKey& read = snapshot->keys[entry.snapshotKey];
    if (long lost = 0; connection.Lost(&lost)) return lost;
    if (const auto found = read.values.find(valueName); found != read.values.end()) {
      if (found->second.code != kErrorSuccess) return found->second.code;
      *type = found->second.type;
      *data = found->second.data;
      return kErrorSuccess;
    }
    if (snapshot->breakCode != 0) {
      connection.MarkLost(snapshot->breakCode);
      return snapshot->breakCode;
    }
  }
  // Most values fit the first buffer; a longer one is asked for again with the
  // size the server names.
  std::uint32_t bufferBytes = kFirstValueBufferBytes;
  for (;;) {
    WinregCall call;
    call.opnum = winreg::kOpQueryValue;
    if (!winreg::EncodeQueryValue(entry.handle, valueName, bufferBytes, &call.request)) {
      return kErrorInvalidName;
    }
    call.transport = connection.Call(call.opnum, call.request, &call.response);
    const long code = QueryValueAnswer(call, bufferBytes, &bufferBytes, type, data);
    if (code != kQueryAgain) return code;
  }
}

long RpcRegistryAccess::RegCloseKey(RegKey key) {
  KeyEntry entry;
  {
    std::lock_guard lock(mutex_);
    const auto found = keys_.find(key);
    if (found == keys_.end()) return kErrorInvalidHandle;
    entry = std::move(found->second);
    keys_.erase(found);
    if (entry.isRoot) {
      // The connection goes with its root: the keys opened through it too.
      for (auto it = keys_.begin(); it != keys_.end();) {
        it = it->second.connection == entry.connection ? keys_.erase(it) : std::next(it);
      }
    }
  }
  if (entry.isRoot) {
    entry.connection->Close();
    return kErrorSuccess;
  }
  // The server's handles of the read-ahead go with the connection.
  if (entry.snapshotKey != kLiveKey) return kErrorSuccess;
  winreg::Bytes response;
  const long code =
      entry.connection->Call(winreg::kOpCloseKey, winreg::EncodeCloseKey(entry.handle), &response);
  if (code != kErrorSuccess) return code;
  winreg::HandleResponse closed;
  if (!winreg::ParseCloseKey(response, &closed)) return kErrorBadStubData;
  return static_cast<long>(closed.status);
}

std::string RpcRegistryAccess::SystemMessageText(long code) {
  std::string text = options_.systemMessages ? options_.systemMessages(code) : std::string();
  return CutUtf8(std::move(text), kMaxMessageBytes);
}

}  // namespace glimmora
