#include "inventory/rpc/rpc_pipe_samba.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <stdbool.h>
#include <stdio.h>
#include <string.h>
#include <talloc.h>
#include <tevent.h>
#include <time.h>

#include <charset.h>
#include <core/error.h>
#include <core/ntstatus.h>
#include <core/werror.h>
#include <credentials.h>
#include <dcerpc.h>
#include <param.h>

/* Newer Samba wraps the members of its structures that are not part of its
 * interface in a member `internal` (unless its own code is being built); the
 * layout is the same. Every member read below goes through this. */
#if defined(SOURCE4_LIBRPC_INTERNALS_END) && !defined(SOURCE4_LIBRPC_INTERNALS)
#define SAMBA_PRIVATE(object) ((object)->internal)
#else
#define SAMBA_PRIVATE(object) (*(object))
#endif

/* libndr-standard exports the interface tables but ships no header for them. */
extern const struct ndr_interface_table ndr_table_winreg;
extern const struct ndr_interface_table ndr_table_svcctl;

static const struct ndr_interface_table* interface_table(enum glimmora_rpc_interface id) {
  switch (id) {
    case GLIMMORA_RPC_WINREG:
      return &ndr_table_winreg;
    case GLIMMORA_RPC_SVCCTL:
      return &ndr_table_svcctl;
  }
  return NULL;
}

/* dcerpc_pipe_connect_send() answers a composite_context whose definition is
 * private to Samba; its first member has always been the state. Reading that
 * alone lets the connect run under our deadline: the library's own connect has
 * no time-out, and a peer that accepts TCP and stays silent holds it ~40 s. */
enum { kCompositeDone = 2 };
struct glimmora_composite_head {
  int state;
};

/* The library is not safe for concurrent use, even with one event context per
 * connection: its synchronous wrappers and much internal code push frames on
 * talloc_stackframe(), one process-wide stack unless Samba's private thread
 * hooks are installed, and two threads interleaving frames abort the process.
 * So every entry into the library holds this lock, and an event loop lets it
 * go while it waits for the network (wait_without_lock below): connections on
 * other threads go on while one waits for a slow peer. The loop wakes at
 * least every slice to look at its deadline; short slices would only spend
 * processor time when a hundred connections wait at once. */
static pthread_mutex_t library_lock = PTHREAD_MUTEX_INITIALIZER;
enum { kSliceMs = 250 };

/* How long closing a pipe on a shared session waits for its extra pipes'
 * opens to end. */
enum { kMaxOpeningsWaitS = 5 };

/* Pipes of one session beside the first. The client keeps a window of 31
 * SMB2 credits, each call in flight holds one, and a burst beyond what it
 * holds fails the whole connection. */
enum { kMaxExtraPipes = 23 };

struct glimmora_rpc_pipe {
  TALLOC_CTX* mem; /* the pipes, their connection and credentials */
  /* Apart from mem and freed after it: freeing the pipe still queues the
   * SMB close on the event context. */
  struct tevent_context* ev;
  struct dcerpc_pipe* pipe;
  struct cli_credentials* creds;
  const struct ndr_interface_table* table; /* the extra pipes bind it too */
  /* Ready pipes: [0] is `pipe`; a slot set to NULL was retired. */
  struct dcerpc_pipe* pipes[1 + kMaxExtraPipes];
  unsigned pipe_slots;
  struct composite_context* opening[kMaxExtraPipes];
  unsigned opening_count;
  unsigned request_timeout_s;
  bool broken; /* a call was abandoned: answers can no longer be matched */
  /* A pipe opened beside another on that one's session (glimmora_rpc_open_beside)
   * holds it, and shares its event context: the SMB connection, session and
   * tree are the first one's, and live as long as either pipe does. */
  struct glimmora_rpc_pipe* session_owner;
  unsigned holders; /* its owner and the pipes opened beside it */
};

/* The lock is let go while an event loop waits for the network, so that
 * connections on other threads go on meanwhile: the wait itself touches no
 * library state, and whatever the library then runs on the events it found
 * runs with the lock taken again. */
static void wait_without_lock(enum tevent_trace_point point, void* private_data) {
  (void)private_data;
  if (point == TEVENT_TRACE_BEFORE_WAIT) {
    pthread_mutex_unlock(&library_lock);
  } else if (point == TEVENT_TRACE_AFTER_WAIT) {
    pthread_mutex_lock(&library_lock);
  }
}

/* A write to a connection the peer has closed raises SIGPIPE in the writing
 * thread, which would end the whole process: every entry into the library
 * holds it blocked on its thread and drops one raised meanwhile. */
struct sigpipe_guard {
  sigset_t old_mask;
  bool was_pending;
};

static void sigpipe_block(struct sigpipe_guard* guard) {
  sigset_t pipe_only, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigemptyset(&pending);
  sigpending(&pending);
  guard->was_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_only, &guard->old_mask);
}

static void sigpipe_restore(struct sigpipe_guard* guard) {
  sigset_t pipe_only, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigemptyset(&pending);
  sigpending(&pending);
  if (!guard->was_pending && sigismember(&pending, SIGPIPE) == 1) {
    const struct timespec no_wait = {0, 0};
    sigtimedwait(&pipe_only, NULL, &no_wait);
  }
  pthread_sigmask(SIG_SETMASK, &guard->old_mask, NULL);
}

static int64_t now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void on_slice_end(struct tevent_context* ev, struct tevent_timer* timer, struct timeval now,
                         void* private_data) {
  (void)ev;
  (void)timer;
  (void)now;
  (void)private_data;
}

/* Runs the event loop until done(arg) or the deadline, the lock held only
 * while the loop runs. Called without the lock; true when done. */
static bool run_until(struct tevent_context* ev, bool (*done)(const void*), const void* arg,
                      int64_t deadline_ms) {
  for (;;) {
    pthread_mutex_lock(&library_lock);
    bool finished = done(arg);
    const int64_t now = now_ms();
    if (!finished && now < deadline_ms) {
      int64_t slice = deadline_ms - now;
      if (slice > kSliceMs) slice = kSliceMs;
      /* The timer lives under its own context: whether it fired (and tevent
       * freed it) or not, freeing the context is right. */
      TALLOC_CTX* slice_owner = talloc_new(NULL);
      if (slice_owner != NULL &&
          tevent_add_timer(ev, slice_owner, tevent_timeval_current_ofs(0, (uint32_t)slice * 1000),
                           on_slice_end, NULL) != NULL) {
        tevent_loop_once(ev);
      }
      talloc_free(slice_owner);
      finished = done(arg);
    }
    pthread_mutex_unlock(&library_lock);
    if (finished) return true;
    if (now_ms() >= deadline_ms) return false;
  }
}

static bool connect_done(const void* connect) {
  return ((const struct glimmora_composite_head*)connect)->state >= kCompositeDone;
}

/* The host and pipe go into a binding string: characters that carry meaning
 * there must not come from a workstation name. */
static bool host_is_plain(const char* host) {
  if (host == NULL || host[0] == '\0') return false;
  for (const char* p = host; *p != '\0'; ++p) {
    unsigned char c = (unsigned char)*p;
    if (c <= ' ' || c == '[' || c == ']' || c == ',' || c == '\\' || c == '/' || c == '@' ||
        c == '%' || c == '#' || c == 0x7f) {
      return false;
    }
  }
  return true;
}

int glimmora_rpc_name_is_plain(const char* name) {
  return host_is_plain(name) ? 1 : 0;
}

/* Process-wide state the library sets up lazily: security mechanisms, the
 * event back ends, the character-set handle. */
static pthread_once_t library_once = PTHREAD_ONCE_INIT;
static void library_init(void) {
  pthread_mutex_lock(&library_lock);
  dcerpc_init();
  struct tevent_context* ev = tevent_context_init(NULL);
  talloc_free(ev);
  (void)strlen_m("x");
  pthread_mutex_unlock(&library_lock);
}

/* The client configuration, loaded once for the process: it was read again
 * from smb.conf for every connection. Used with the lock held only. */
static struct loadparm_context* shared_config;

static struct loadparm_context* load_client_config(void) {
  struct loadparm_context* lp = loadparm_init(NULL);
  if (lp == NULL) return NULL;
  /* The machine's smb.conf may set client signing or protocol limits; it is
   * optional. */
  lpcfg_load_default(lp);
  /* The name already resolved through the system resolver; no broadcasts. */
  lpcfg_set_cmdline(lp, "name resolve order", "host");
  /* Port 445 only, as probed: no NetBIOS session service fallback. */
  lpcfg_set_cmdline(lp, "smb ports", "445");
  lpcfg_set_cmdline(lp, "log level", "0");
  return lp;
}

static void close_locked(struct glimmora_rpc_pipe* pipe) {
  if (pipe == NULL || --pipe->holders > 0) return;
  talloc_free(pipe->mem);
  if (pipe->session_owner != NULL) {
    close_locked(pipe->session_owner);
  } else {
    talloc_free(pipe->ev);
  }
  talloc_free(pipe);
}

/* Everything up to the connect request, under the lock. */
static uint32_t start_connect(const struct glimmora_rpc_params* params,
                              struct glimmora_rpc_pipe** out, struct composite_context** connect) {
  struct glimmora_rpc_pipe* result = talloc_zero(NULL, struct glimmora_rpc_pipe);
  if (result == NULL) return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  result->holders = 1;
  result->ev = tevent_context_init(NULL);
  if (result->ev != NULL) tevent_set_trace_callback(result->ev, wait_without_lock, NULL);
  result->mem = talloc_new(NULL);
  TALLOC_CTX* mem = result->mem;
  if (shared_config == NULL) shared_config = load_client_config();
  struct loadparm_context* lp = shared_config;
  struct cli_credentials* creds = mem ? cli_credentials_init(mem) : NULL;
  char* binding =
      mem ? talloc_asprintf(mem, "ncacn_np:%s[\\pipe\\%s]", params->host, params->pipe_name) : NULL;
  if (result->ev == NULL || lp == NULL || creds == NULL || binding == NULL) {
    close_locked(result);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }

  cli_credentials_set_conf(creds, lp);
  if (params->use_kerberos) {
    const char* error = NULL;
    cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED);
    if (cli_credentials_set_ccache(creds, lp, params->ccache, CRED_SPECIFIED, &error) != 0) {
      close_locked(result);
      return NT_STATUS_V(NT_STATUS_NO_LOGON_SERVERS);
    }
  } else {
    cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED);
    cli_credentials_set_username(creds, params->username ? params->username : "", CRED_SPECIFIED);
    cli_credentials_set_domain(creds, params->domain ? params->domain : "", CRED_SPECIFIED);
    cli_credentials_set_password(creds, params->password ? params->password : "", CRED_SPECIFIED);
  }
  result->creds = creds;
  result->table = interface_table(params->interface_id);
  *connect = dcerpc_pipe_connect_send(mem, binding, result->table, creds, result->ev, lp);
  if (*connect == NULL) {
    close_locked(result);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }
  *out = result;
  return 0;
}

/* An open that ended: the pipe ready for calls and handed out, or dropped. */
static void finish_open_locked(struct glimmora_rpc_pipe* result, NTSTATUS status,
                               unsigned request_timeout_s, struct glimmora_rpc_pipe** pipe) {
  if (!NT_STATUS_IS_OK(status)) {
    close_locked(result);
    return;
  }
  dcerpc_binding_handle_set_timeout(result->pipe->binding_handle, request_timeout_s);
  result->request_timeout_s = request_timeout_s;
  result->pipes[0] = result->pipe;
  result->pipe_slots = 1;
  *pipe = result;
}

static uint32_t open_unguarded(const struct glimmora_rpc_params* params,
                               struct glimmora_rpc_pipe** pipe) {
  *pipe = NULL;
  if (!host_is_plain(params->host) || !host_is_plain(params->pipe_name) ||
      interface_table(params->interface_id) == NULL) {
    return NT_STATUS_V(NT_STATUS_INVALID_PARAMETER);
  }
  pthread_once(&library_once, library_init);

  struct glimmora_rpc_pipe* result = NULL;
  struct composite_context* connect = NULL;
  pthread_mutex_lock(&library_lock);
  uint32_t status = start_connect(params, &result, &connect);
  pthread_mutex_unlock(&library_lock);
  if (status != 0) return status;

  const bool finished = run_until(result->ev, connect_done, connect, params->deadline_ms);
  pthread_mutex_lock(&library_lock);
  if (!finished) {
    talloc_free(connect);
    close_locked(result);
    pthread_mutex_unlock(&library_lock);
    return NT_STATUS_V(NT_STATUS_IO_TIMEOUT);
  }
  NTSTATUS connected = dcerpc_pipe_connect_recv(connect, result->mem, &result->pipe);
  finish_open_locked(result, connected, params->request_timeout_s, pipe);
  pthread_mutex_unlock(&library_lock);
  return NT_STATUS_V(connected);
}

/* The pipe's binding with another endpoint. An association group belongs to
 * the server behind one endpoint: another pipe asks for a new one. */
static struct dcerpc_binding* binding_for(TALLOC_CTX* mem, const struct dcerpc_binding* binding,
                                          const char* pipe_name, bool new_group) {
  struct dcerpc_binding* named = dcerpc_binding_dup(mem, binding);
  char* endpoint = talloc_asprintf(mem, "\\pipe\\%s", pipe_name);
  if (named == NULL || endpoint == NULL ||
      !NT_STATUS_IS_OK(dcerpc_binding_set_string_option(named, "endpoint", endpoint))) {
    return NULL;
  }
  if (new_group && !NT_STATUS_IS_OK(dcerpc_binding_set_assoc_group_id(named, 0))) return NULL;
  return named;
}

static uint32_t open_beside_unguarded(struct glimmora_rpc_pipe* base, const char* pipe_name,
                                      enum glimmora_rpc_interface interface_id, int64_t deadline_ms,
                                      unsigned request_timeout_s, struct glimmora_rpc_pipe** pipe) {
  *pipe = NULL;
  const struct ndr_interface_table* table = interface_table(interface_id);
  if (!host_is_plain(pipe_name) || table == NULL) return NT_STATUS_V(NT_STATUS_INVALID_PARAMETER);
  pthread_mutex_lock(&library_lock);
  if (base->broken) {
    pthread_mutex_unlock(&library_lock);
    return NT_STATUS_V(NT_STATUS_CONNECTION_DISCONNECTED);
  }
  struct glimmora_rpc_pipe* result = talloc_zero(NULL, struct glimmora_rpc_pipe);
  struct composite_context* opening = NULL;
  if (result != NULL) {
    result->holders = 1;
    result->session_owner = base;
    ++base->holders;
    result->ev = base->ev;
    result->creds = base->creds;
    result->table = table;
    result->mem = talloc_new(NULL);
    struct dcerpc_binding* binding =
        result->mem != NULL
            ? binding_for(result->mem, SAMBA_PRIVATE(base->pipe).binding, pipe_name, true)
            : NULL;
    if (binding != NULL) {
      opening = dcerpc_secondary_auth_connection_send(base->pipe, binding, table, base->creds,
                                                      shared_config);
    }
  }
  if (opening == NULL) {
    close_locked(result);
    pthread_mutex_unlock(&library_lock);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }
  pthread_mutex_unlock(&library_lock);

  const bool finished = run_until(result->ev, connect_done, opening, deadline_ms);
  pthread_mutex_lock(&library_lock);
  NTSTATUS opened = NT_STATUS_IO_TIMEOUT;
  if (finished) {
    opened = dcerpc_secondary_auth_connection_recv(opening, result->mem, &result->pipe);
  } else {
    talloc_free(opening);
  }
  finish_open_locked(result, opened, request_timeout_s, pipe);
  pthread_mutex_unlock(&library_lock);
  return NT_STATUS_V(opened);
}

/* The private transport state behind an SMB pipe begins with these members
 * (its talloc name is checked before they are read): the SMB connection is
 * what the credit count is asked of. */
struct glimmora_smb_transport_head {
  DATA_BLOB session_key;
  void* conn;
};

/* The credits the session holds now; 0 when that cannot be told (then no
 * extra pipe is opened). The function is looked up at run time: it lives in
 * one of Samba's private libraries, which the pipe library loads. */
static unsigned session_credits(struct dcerpc_pipe* p) {
  typedef uint16_t (*credits_fn)(void*);
  static credits_fn current_credits;
  static bool looked_up;
  if (!looked_up) {
    current_credits = (credits_fn)dlsym(RTLD_DEFAULT, "smb2cli_conn_get_cur_credits");
    looked_up = true;
  }
  struct dcecli_connection* conn = SAMBA_PRIVATE(p).conn;
  void* transport = conn != NULL ? SAMBA_PRIVATE(conn).transport.private_data : NULL;
  if (current_credits == NULL || transport == NULL ||
      talloc_check_name(transport, "struct smb_private") == NULL) {
    return 0;
  }
  const struct glimmora_smb_transport_head* smb = transport;
  return smb->conn != NULL ? current_credits(smb->conn) : 0;
}

/* Takes the extra pipes whose open has ended into use (or drops them). */
static void harvest_pipes_locked(struct glimmora_rpc_pipe* pipe) {
  unsigned kept = 0;
  for (unsigned i = 0; i < pipe->opening_count; ++i) {
    struct composite_context* opening = pipe->opening[i];
    if (!connect_done(opening)) {
      pipe->opening[kept++] = opening;
      continue;
    }
    struct dcerpc_pipe* extra = NULL;
    NTSTATUS status = dcerpc_secondary_auth_connection_recv(opening, pipe->mem, &extra);
    if (NT_STATUS_IS_OK(status) && pipe->pipe_slots < 1 + kMaxExtraPipes) {
      dcerpc_binding_handle_set_timeout(extra->binding_handle, pipe->request_timeout_s);
      pipe->pipes[pipe->pipe_slots++] = extra;
    } else if (NT_STATUS_IS_OK(status)) {
      talloc_free(extra);
    }
  }
  pipe->opening_count = kept;
}

static unsigned start_pipes_unguarded(struct glimmora_rpc_pipe* pipe, unsigned wanted,
                                      const char* pipe_name) {
  if (pipe_name != NULL && !host_is_plain(pipe_name)) return 0;
  pthread_mutex_lock(&library_lock);
  if (pipe->broken) wanted = 0;
  /* The first pipe's binding carries its association group. */
  const struct dcerpc_binding* binding = SAMBA_PRIVATE(pipe->pipe).binding;
  if (wanted > 0 && pipe_name != NULL) {
    binding = binding_for(pipe->mem, SAMBA_PRIVATE(pipe->pipe).binding, pipe_name, false);
    if (binding == NULL) wanted = 0;
  }
  if (wanted > kMaxExtraPipes) wanted = kMaxExtraPipes;
  /* One credit stays for the first pipe's call, and one to spare. */
  const unsigned credits = session_credits(pipe->pipe);
  const unsigned allowed = credits > 2 ? credits - 2 : 0;
  if (wanted > allowed) wanted = allowed;
  unsigned started = 0;
  while (started < wanted && pipe->opening_count < kMaxExtraPipes) {
    struct composite_context* opening = dcerpc_secondary_auth_connection_send(
        pipe->pipe, binding, pipe->table, pipe->creds, shared_config);
    if (opening == NULL) break;
    pipe->opening[pipe->opening_count++] = opening;
    ++started;
  }
  pthread_mutex_unlock(&library_lock);
  return started;
}

unsigned glimmora_rpc_pipe_count(struct glimmora_rpc_pipe* pipe) {
  pthread_mutex_lock(&library_lock);
  harvest_pipes_locked(pipe);
  unsigned count = pipe->opening_count;
  for (unsigned i = 0; i < pipe->pipe_slots; ++i) count += pipe->pipes[i] != NULL;
  pthread_mutex_unlock(&library_lock);
  return count;
}

struct wave_slot {
  struct tevent_req* req; /* NULL: the pipe is idle */
  TALLOC_CTX* call;
  size_t index;
  int64_t guard_ms;
};

/* Sends request `index` on pipe `slot`, or fails it; under the lock. */
static void send_locked(struct glimmora_rpc_pipe* pipe, unsigned slot_index, struct wave_slot* slot,
                        struct glimmora_rpc_request* request, size_t index, unsigned timeout_s,
                        int64_t deadline_ms) {
  const int64_t now = now_ms();
  unsigned timeout = timeout_s;
  if (deadline_ms != 0) {
    if (deadline_ms <= now) {
      request->status = NT_STATUS_V(NT_STATUS_IO_TIMEOUT);
      return;
    }
    const int64_t left_s = (deadline_ms - now + 999) / 1000;
    if (left_s < (int64_t)timeout) timeout = (unsigned)left_s;
  }
  struct dcerpc_binding_handle* handle = pipe->pipes[slot_index]->binding_handle;
  dcerpc_binding_handle_set_timeout(handle, timeout);
  slot->call = talloc_new(pipe->mem);
  slot->req = slot->call == NULL ? NULL
                                 : dcerpc_binding_handle_raw_call_send(
                                       slot->call, pipe->ev, handle, NULL, request->opnum, 0,
                                       request->data, request->length);
  if (slot->req == NULL) {
    talloc_free(slot->call);
    slot->call = NULL;
    request->status = NT_STATUS_V(NT_STATUS_NO_MEMORY);
    return;
  }
  slot->index = index;
  /* The binding handle times the request out itself; this bound only guards
   * against a library that would not. */
  slot->guard_ms = now + (int64_t)(timeout + 2) * 1000;
}

static uint32_t wave_unguarded(struct glimmora_rpc_pipe* pipe,
                               struct glimmora_rpc_request* requests, size_t count,
                               unsigned timeout_s, int64_t deadline_ms, glimmora_rpc_sink sink) {
  const uint32_t kPending = 0xFFFFFFFFu;
  for (size_t i = 0; i < count; ++i) {
    requests[i].status = kPending;
    requests[i].big_endian = 0;
  }
  pthread_mutex_lock(&library_lock);
  struct wave_slot slots[1 + kMaxExtraPipes];
  memset(slots, 0, sizeof slots);
  /* Requests waiting for a pipe, first come first sent: a ring holding each
   * waiting request once. */
  size_t* waiting = talloc_array(NULL, size_t, count > 0 ? count : 1);
  size_t head = 0, waiting_count = count;
  for (size_t i = 0; i < count && waiting != NULL; ++i) waiting[i] = i;
  if (waiting == NULL || pipe->broken) {
    const uint32_t status = waiting == NULL ? NT_STATUS_V(NT_STATUS_NO_MEMORY)
                                            : NT_STATUS_V(NT_STATUS_CONNECTION_DISCONNECTED);
    for (size_t i = 0; i < count; ++i) requests[i].status = status;
    waiting_count = 0;
  }
  size_t in_flight = 0;
  bool abandoned = false;
  while (waiting_count > 0 || in_flight > 0) {
    harvest_pipes_locked(pipe);
    for (unsigned s = 0; s < pipe->pipe_slots && waiting_count > 0; ++s) {
      if (pipe->pipes[s] == NULL || slots[s].req != NULL) continue;
      const size_t index = waiting[head];
      head = (head + 1) % count;
      --waiting_count;
      send_locked(pipe, s, &slots[s], &requests[index], index, timeout_s, deadline_ms);
      if (slots[s].req != NULL) ++in_flight;
    }
    if (in_flight == 0) {
      if (waiting_count == 0) break;
      /* No pipe left to send on: every extra pipe was retired and the first
       * one with them cannot be (it never is), so this does not happen; fail
       * rather than spin. */
      while (waiting_count > 0) {
        requests[waiting[head]].status = NT_STATUS_V(NT_STATUS_CONNECTION_DISCONNECTED);
        head = (head + 1) % count;
        --waiting_count;
      }
      break;
    }
    const int64_t now = now_ms();
    int64_t nearest = INT64_MAX;
    bool progressed = false;
    for (unsigned s = 0; s < pipe->pipe_slots; ++s) {
      struct wave_slot* slot = &slots[s];
      if (slot->req == NULL) continue;
      if (tevent_req_is_in_progress(slot->req)) {
        if (slot->guard_ms <= now) abandoned = true;
        if (slot->guard_ms < nearest) nearest = slot->guard_ms;
        continue;
      }
      struct glimmora_rpc_request* request = &requests[slot->index];
      uint8_t* response = NULL;
      size_t response_length = 0;
      uint32_t flags = 0;
      NTSTATUS status = dcerpc_binding_handle_raw_call_recv(slot->req, slot->call, &response,
                                                            &response_length, &flags);
      if (s > 0 && NT_STATUS_EQUAL(status, NT_STATUS_RPC_SS_CONTEXT_MISMATCH)) {
        /* This pipe is not in the first one's association group: its handles
         * mean nothing here. The call goes again on another pipe. */
        pipe->pipes[s] = NULL;
        waiting[(head + waiting_count) % count] = slot->index;
        ++waiting_count;
      } else {
        if (NT_STATUS_IS_OK(status)) {
          request->big_endian = (flags & LIBNDR_FLAG_BIGENDIAN) != 0;
          sink(request->sink_context, response, response_length);
        }
        request->status = NT_STATUS_V(status);
        if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) abandoned = true;
      }
      talloc_free(slot->call);
      slot->call = NULL;
      slot->req = NULL;
      --in_flight;
      progressed = true;
    }
    if (abandoned) break;
    if (progressed) continue;
    int64_t slice = nearest - now;
    if (slice > kSliceMs) slice = kSliceMs;
    if (slice < 1) slice = 1;
    TALLOC_CTX* slice_owner = talloc_new(NULL);
    if (slice_owner != NULL &&
        tevent_add_timer(pipe->ev, slice_owner,
                         tevent_timeval_current_ofs(0, (uint32_t)slice * 1000), on_slice_end,
                         NULL) != NULL) {
      tevent_loop_once(pipe->ev);
    }
    talloc_free(slice_owner);
  }
  if (abandoned) {
    /* Answers still to come could no longer be matched to their calls. */
    pipe->broken = true;
    for (unsigned s = 0; s < pipe->pipe_slots; ++s) {
      if (slots[s].req == NULL) continue;
      requests[slots[s].index].status = NT_STATUS_V(NT_STATUS_IO_TIMEOUT);
      talloc_free(slots[s].call);
    }
    for (size_t i = 0; i < count; ++i) {
      if (requests[i].status == kPending) {
        requests[i].status = NT_STATUS_V(NT_STATUS_CONNECTION_DISCONNECTED);
      }
    }
  }
  talloc_free(waiting);
  uint32_t first_failure = 0;
  for (size_t i = 0; i < count && first_failure == 0; ++i) first_failure = requests[i].status;
  pthread_mutex_unlock(&library_lock);
  return first_failure;
}

uint32_t glimmora_rpc_call(struct glimmora_rpc_pipe* pipe, uint16_t opnum, const uint8_t* request,
                           size_t request_length, unsigned timeout_s, glimmora_rpc_sink sink,
                           void* sink_context, int* big_endian) {
  struct glimmora_rpc_request call = {opnum, request, request_length, sink_context, 0, 0};
  const uint32_t status = glimmora_rpc_wave(pipe, &call, 1, timeout_s, 0, sink);
  *big_endian = call.big_endian;
  return status;
}

uint32_t glimmora_rpc_open(const struct glimmora_rpc_params* params,
                           struct glimmora_rpc_pipe** pipe) {
  struct sigpipe_guard guard;
  sigpipe_block(&guard);
  const uint32_t status = open_unguarded(params, pipe);
  sigpipe_restore(&guard);
  return status;
}

uint32_t glimmora_rpc_open_beside(struct glimmora_rpc_pipe* base, const char* pipe_name,
                                  enum glimmora_rpc_interface interface_id, int64_t deadline_ms,
                                  unsigned request_timeout_s, struct glimmora_rpc_pipe** pipe) {
  struct sigpipe_guard guard;
  sigpipe_block(&guard);
  const uint32_t status =
      open_beside_unguarded(base, pipe_name, interface_id, deadline_ms, request_timeout_s, pipe);
  sigpipe_restore(&guard);
  return status;
}

unsigned glimmora_rpc_start_pipes(struct glimmora_rpc_pipe* pipe, unsigned wanted,
                                  const char* pipe_name) {
  struct sigpipe_guard guard;
  sigpipe_block(&guard);
  const unsigned started = start_pipes_unguarded(pipe, wanted, pipe_name);
  sigpipe_restore(&guard);
  return started;
}

uint32_t glimmora_rpc_wave(struct glimmora_rpc_pipe* pipe, struct glimmora_rpc_request* requests,
                           size_t count, unsigned timeout_s, int64_t deadline_ms,
                           glimmora_rpc_sink sink) {
  struct sigpipe_guard guard;
  sigpipe_block(&guard);
  const uint32_t status = wave_unguarded(pipe, requests, count, timeout_s, deadline_ms, sink);
  sigpipe_restore(&guard);
  return status;
}

static bool openings_done(const void* arg) {
  const struct glimmora_rpc_pipe* pipe = arg;
  for (unsigned i = 0; i < pipe->opening_count; ++i) {
    if (!connect_done(pipe->opening[i])) return false;
  }
  return true;
}

void glimmora_rpc_close(struct glimmora_rpc_pipe* pipe) {
  if (pipe == NULL) return;
  struct sigpipe_guard guard;
  sigpipe_block(&guard);
  /* On a session that goes on after this pipe, an extra pipe abandoned while
   * it opens leaves an answer the connection cannot place, and the library
   * then drops the whole connection: those opens are let finish first. */
  if (pipe->session_owner != NULL && !pipe->broken) {
    /* They take milliseconds on a live link; on a dead one the session is
     * lost anyway, and the service's restore must not wait for it. */
    unsigned wait_s = pipe->request_timeout_s ? pipe->request_timeout_s : 1;
    if (wait_s > kMaxOpeningsWaitS) wait_s = kMaxOpeningsWaitS;
    run_until(pipe->ev, openings_done, pipe, now_ms() + (int64_t)wait_s * 1000);
  }
  pthread_mutex_lock(&library_lock);
  close_locked(pipe);
  pthread_mutex_unlock(&library_lock);
  sigpipe_restore(&guard);
}

uint32_t glimmora_rpc_ntstatus_to_win32(uint32_t status) {
  return W_ERROR_V(ntstatus_to_werror(NT_STATUS(status)));
}
