#include "inventory/registry_rpc.h"

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
#include <thread>

#include "common/deadline.h"
#include "common/unique_handle.h"
#include "inventory/ansi_conversion.h"
#include "inventory/rpc_pipe_samba.h"
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

// The longest system message text the scan keeps (its buffer holds 259 bytes).
constexpr std::size_t kMaxMessageBytes = 258;

constexpr long kErrorNtlmBlocked = 1937;

struct PipeTraits {
  using Handle = glimmora_rpc_pipe*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle pipe) noexcept { glimmora_rpc_close(pipe); }
};
using UniquePipe = UniqueHandle<PipeTraits>;

struct SocketTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return -1; }
  static void Close(Handle fd) noexcept { ::close(fd); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

struct AddrInfoTraits {
  using Handle = addrinfo*;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle list) noexcept { freeaddrinfo(list); }
};
using UniqueAddrInfo = UniqueHandle<AddrInfoTraits>;

// Why the last connect on this thread failed, when the code alone would not
// tell the user what to do. Read by SystemMessageText right after.
enum class ConnectHint {
  kNone,
  kServiceStopped,
  kAdministratorsOnly,
  kNtlmRefused,
  kKerberos,  // detail says what is wrong with the ticket
  kLogonsStopped,
};
struct LastConnectFailure {
  long code = 0;
  ConnectHint hint = ConnectHint::kNone;
  std::string detail;
};
thread_local LastConnectFailure tLastConnectFailure;

std::string_view HintText(ConnectHint hint, Language language) {
  const bool japanese = language == Language::kJapanese;
  switch (hint) {
    case ConnectHint::kServiceStopped:
      return japanese ? "(リモート レジストリ サービスが停止していないか確認してください。"
                        "Windows クライアントでは既定で停止しています)"
                      : "(The Remote Registry service may be stopped on the workstation: "
                        "current Windows client editions stop it by default. Start it there.)";
    case ConnectHint::kAdministratorsOnly:
      return japanese ? "(リモート レジストリを使用できるのはワークステーションの管理者だけです)"
                      : "(Only administrators of the workstation may use its Remote Registry "
                        "service.)";
    case ConnectHint::kNtlmRefused:
      return japanese
                 ? "(ワークステーションが NTLM によるログオンを拒否しました。kinit で Kerberos "
                   "チケットを取得し、-k を指定してください)"
                 : "(The workstation refused the NTLM logon: its domain allows Kerberos "
                   "only. Get a ticket with kinit and use -k.)";
    case ConnectHint::kLogonsStopped:
      return japanese ? "(ログオンの失敗が続いたため、このバッチはログオンを中止しました)"
                      : "(The batch stopped logging on after repeated logon failures.)";
    case ConnectHint::kKerberos:
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

enum class Reach { kReachable, kRefused, kSilent, kUnresolved };

// Tries TCP port 445 of every address of the host until the deadline. Samba's
// connect reports a refused connection as "no memory" and has no time-out, so
// this tells the cases apart before it starts.
Reach ProbeSmbPort(const std::string& host, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  // The lookup has no time-out of its own: it is waited for until the
  // deadline only, and one given up on counts as a name not resolved.
  UniqueAddrInfo addresses = CallBeforeThreadDeadline<UniqueAddrInfo>([host, hints] {
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
        do {
          const auto left =
              std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
          if (left.count() <= 0) return result;
          ready = ::poll(&watch, 1, static_cast<int>(left.count()));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) return result;  // the deadline passed
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

}  // namespace

struct RpcRegistryAccess::Connection {
  UniquePipe pipe;
  unsigned requestTimeoutS = 30;
  std::mutex callMutex;  // one call at a time on the pipe's event context
  bool closed = false;   // guarded by callMutex
  // A call came to no answer (the server went away, the link broke, the
  // time-out passed): what fails now says nothing about the key asked for.
  std::atomic<bool> lost{false};

  // One request and its answer; a transport failure gives its Windows code.
  long Call(std::uint16_t opnum, const winreg::Bytes& request, winreg::Bytes* response) {
    std::lock_guard lock(callMutex);
    if (closed) return kErrorInvalidHandle;
    int bigEndian = 0;
    response->clear();
    // A caller under a deadline (a batch's workstation) has only what is left of it.
    const auto left = TimeLeftWithin(std::chrono::seconds(requestTimeoutS));
    if (left.count() <= 0) return kErrorTimeout;
    const auto timeoutS =
        static_cast<unsigned>(std::chrono::ceil<std::chrono::seconds>(left).count());
    const std::uint32_t status =
        glimmora_rpc_call(pipe.get(), opnum, request.data(), request.size(), timeoutS,
                          AppendResponse, response, &bigEndian);
    if (status != 0) lost = true;
    if (status == kStatusIoTimeout) return kErrorTimeout;
    if (status != 0) return static_cast<long>(glimmora_rpc_ntstatus_to_win32(status));
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
    : credentials_(std::move(credentials)), options_(std::move(options)) {}

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

// Opens the pipe until the deadline. A service that Windows starts on the
// first open of its pipe (the Remote Registry service is trigger-started) is
// not there yet for that open: the pipe is not found, not available or busy,
// or the connection drops. That open is tried once more after a moment.
long RpcRegistryAccess::Open(const std::string& host, Clock::time_point deadline,
                             glimmora_rpc_pipe** opened, std::string* kerberosReason) {
  glimmora_rpc_params params{};
  params.host = host.c_str();
  params.pipe_name = options_.pipeName.c_str();
  params.use_kerberos = credentials_.useKerberos ? 1 : 0;
  params.ccache = credentials_.ccache.empty() ? nullptr : credentials_.ccache.c_str();
  params.username = credentials_.username.c_str();
  params.domain = credentials_.domain.c_str();
  params.password = credentials_.password.c_str();
  params.deadline_ms = MonotonicMs(deadline);
  params.request_timeout_s = static_cast<unsigned>(
      std::max<std::chrono::seconds::rep>(1, options_.requestTimeout.count()));

  std::uint32_t status = glimmora_rpc_open(&params, opened);
  const bool starting = status == kStatusObjectNameNotFound || status == kStatusPipeNotAvailable ||
                        status == kStatusPipeBusy || status == kStatusConnectionReset ||
                        status == kStatusConnectionDisconnected || status == kStatusEndOfFile;
  if (starting && Clock::now() + options_.serviceStartWait < deadline) {
    std::this_thread::sleep_for(options_.serviceStartWait);
    status = glimmora_rpc_open(&params, opened);
  }
  if (status == 0) return kErrorSuccess;
  const bool kerberosMayTell = status != kStatusObjectNameNotFound &&
                               status != kStatusPipeNotAvailable && status != kStatusPipeBusy &&
                               status != kStatusIoTimeout && status != kStatusNoMemory &&
                               status != kStatusAccessDenied;
  if (credentials_.useKerberos && kerberosMayTell && glimmora_rpc_name_is_plain(host.c_str())) {
    // The library's own codes for a ticket it cannot use say little ("invalid
    // parameter", "Unknown error -1765328189"): the cache is looked at here.
    *kerberosReason = DiagnoseKerberos(credentials_.ccache, host);
    if (!kerberosReason->empty()) return kErrorLogonFailure;
  }
  switch (status) {
    case kStatusObjectNameNotFound:  // no \pipe\winreg: the service is not running
    case kStatusPipeNotAvailable:
    case kStatusPipeBusy:
      tLastConnectFailure.hint = ConnectHint::kServiceStopped;
      return kErrorBadNetPath;
    case kStatusAccessDenied:
      tLastConnectFailure.hint = ConnectHint::kAdministratorsOnly;
      return kErrorAccessDenied;
    case kStatusNoMemory:  // how the library reports a refused connection
    case kStatusIoTimeout:
    case kStatusConnectionReset:
    case kStatusConnectionDisconnected:
    case kStatusEndOfFile:
      return kErrorBadNetPath;
    case kStatusInvalidParameter:
      return kErrorInvalidName;
    case kStatusNtlmBlocked:
      tLastConnectFailure.hint = ConnectHint::kNtlmRefused;
      return kErrorNtlmBlocked;
    default:
      break;
  }
  if (status == kStatusLogonFailure) return kErrorLogonFailure;
  return static_cast<long>(glimmora_rpc_ntstatus_to_win32(status));
}

long RpcRegistryAccess::RegConnectRegistryA(const std::string& machineName, RegKey rootKey,
                                            RegKey* result) {
  *result = kNoKey;
  tLastConnectFailure = {};
  const auto fail = [](long code, ConnectHint hint = ConnectHint::kNone) {
    tLastConnectFailure.code = code;
    tLastConnectFailure.hint = hint;
    return code;
  };
  if (rootKey != kHkeyLocalMachine) return fail(kErrorNotSupported);
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

  // The connect time-out, or what is left of the caller's deadline when that is shorter.
  const std::chrono::milliseconds connectTime = TimeLeftWithin(options_.connectTimeout);
  if (connectTime.count() <= 0) return fail(kErrorTimeout);
  const Clock::time_point deadline = Clock::now() + connectTime;
  {
    const ScopedDeadline lookupAndPortDeadline(deadline);
    if (ProbeSmbPort(host, deadline) != Reach::kReachable) return fail(kErrorBadNetPath);
  }

  glimmora_rpc_pipe* opened = nullptr;
  std::string kerberosReason;
  const long openCode = Open(host, deadline, &opened, &kerberosReason);
  if (openCode != kErrorSuccess) {
    if (openCode == kErrorLogonFailure) CountLogon(false);
    if (!kerberosReason.empty()) {
      tLastConnectFailure.detail = kerberosReason;
      return fail(openCode, ConnectHint::kKerberos);
    }
    return fail(openCode, tLastConnectFailure.hint);
  }
  CountLogon(true);
  auto connection = std::make_shared<Connection>();
  connection->pipe.reset(opened);
  connection->requestTimeoutS = static_cast<unsigned>(
      std::max<std::chrono::seconds::rep>(1, options_.requestTimeout.count()));

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
  winreg::Bytes request;
  if (!winreg::EncodeOpenKey(parent.handle, subKey, options, samDesired, &request)) {
    return kErrorInvalidName;
  }
  winreg::Bytes response;
  const long code = parent.connection->Call(winreg::kOpOpenKey, request, &response);
  if (code != kErrorSuccess) return code;
  winreg::HandleResponse opened;
  if (!winreg::ParseOpenKey(response, &opened)) return kErrorBadStubData;
  if (opened.status != 0) return static_cast<long>(opened.status);
  *result = AddKey(KeyEntry{std::move(parent.connection), opened.handle, false});
  return kErrorSuccess;
}

long RpcRegistryAccess::RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) {
  KeyEntry entry;
  if (!FindKey(key, &entry)) return kErrorInvalidHandle;
  winreg::Bytes response;
  const long code = entry.connection->Call(winreg::kOpEnumKey,
                                           winreg::EncodeEnumKey(entry.handle, index), &response);
  if (code != kErrorSuccess) return code;
  winreg::EnumKeyResponse answer;
  if (!winreg::ParseEnumKey(response, &answer)) return kErrorBadStubData;
  if (answer.status != 0) return static_cast<long>(answer.status);
  std::string text = AnsiFromUtf16(answer.nameUtf16);
  if (text.size() > kMaxKeyNameLength) return kErrorMoreData;
  *name = std::move(text);
  return kErrorSuccess;
}

long RpcRegistryAccess::RegQueryValueExA(RegKey key, const std::string& valueName,
                                         std::uint32_t* type, std::vector<std::uint8_t>* data) {
  KeyEntry entry;
  if (!FindKey(key, &entry)) return kErrorInvalidHandle;
  // Most values fit the first buffer; a longer one is asked for again with the
  // size the server names. The size only grows, so this ends.
  constexpr std::uint32_t kFirstBufferBytes = 1024;
  std::uint32_t bufferBytes = kFirstBufferBytes;
  for (;;) {
    winreg::Bytes request;
    if (!winreg::EncodeQueryValue(entry.handle, valueName, bufferBytes, &request)) {
      return kErrorInvalidName;
    }
    winreg::Bytes response;
    const long code = entry.connection->Call(winreg::kOpQueryValue, request, &response);
    if (code != kErrorSuccess) return code;
    winreg::QueryValueResponse answer;
    if (!winreg::ParseQueryValue(response, &answer)) return kErrorBadStubData;
    if (answer.status == static_cast<std::uint32_t>(kErrorMoreData)) {
      if (answer.neededSize <= bufferBytes || answer.neededSize > winreg::kMaxValueDataBytes) {
        return kErrorBadStubData;
      }
      bufferBytes = answer.neededSize;
      continue;
    }
    if (answer.status != 0) return static_cast<long>(answer.status);
    *type = answer.type;
    *data = winreg::ValueDataToAnsi(answer.type, answer.data);
    return kErrorSuccess;
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
  const LastConnectFailure last = tLastConnectFailure;
  if (last.code == code && last.hint != ConnectHint::kNone) {
    const std::string hint = last.hint == ConnectHint::kKerberos
                                 ? "(" + last.detail + ")"
                                 : std::string(HintText(last.hint, LanguageFromEnvironment()));
    if (!text.empty()) text += ' ';
    text += hint;
  }
  return CutUtf8(std::move(text), kMaxMessageBytes);
}

}  // namespace glimmora
