#include "inventory/rpc_pipe_samba.h"

#include <pthread.h>
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

/* libndr-standard exports the winreg interface table but ships no header for it. */
extern const struct ndr_interface_table ndr_table_winreg;

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

struct glimmora_rpc_pipe {
  TALLOC_CTX* mem; /* the pipe, its connection, configuration and credentials */
  /* Apart from mem and freed after it: freeing the pipe still queues the
   * SMB close on the event context. */
  struct tevent_context* ev;
  struct dcerpc_pipe* pipe;
  bool broken; /* a call was abandoned: answers can no longer be matched */
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

static bool request_done(const void* req) {
  return !tevent_req_is_in_progress((struct tevent_req*)req);
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

static struct loadparm_context* client_config(TALLOC_CTX* mem) {
  struct loadparm_context* lp = loadparm_init(mem);
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
  if (pipe == NULL) return;
  talloc_free(pipe->mem);
  talloc_free(pipe->ev);
  talloc_free(pipe);
}

/* Everything up to the connect request, under the lock. */
static uint32_t start_connect(const struct glimmora_rpc_params* params,
                              struct glimmora_rpc_pipe** out, struct composite_context** connect) {
  struct glimmora_rpc_pipe* result = talloc_zero(NULL, struct glimmora_rpc_pipe);
  if (result == NULL) return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  result->ev = tevent_context_init(NULL);
  if (result->ev != NULL) tevent_set_trace_callback(result->ev, wait_without_lock, NULL);
  result->mem = talloc_new(NULL);
  TALLOC_CTX* mem = result->mem;
  struct loadparm_context* lp = mem ? client_config(mem) : NULL;
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
  *connect = dcerpc_pipe_connect_send(mem, binding, &ndr_table_winreg, creds, result->ev, lp);
  if (*connect == NULL) {
    close_locked(result);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }
  *out = result;
  return 0;
}

uint32_t glimmora_rpc_open(const struct glimmora_rpc_params* params,
                           struct glimmora_rpc_pipe** pipe) {
  *pipe = NULL;
  if (!host_is_plain(params->host) || !host_is_plain(params->pipe_name)) {
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
  if (NT_STATUS_IS_OK(connected)) {
    dcerpc_binding_handle_set_timeout(result->pipe->binding_handle, params->request_timeout_s);
    *pipe = result;
  } else {
    close_locked(result);
  }
  pthread_mutex_unlock(&library_lock);
  return NT_STATUS_V(connected);
}

uint32_t glimmora_rpc_call(struct glimmora_rpc_pipe* pipe, uint16_t opnum, const uint8_t* request,
                           size_t request_length, unsigned timeout_s, glimmora_rpc_sink sink,
                           void* sink_context, int* big_endian) {
  *big_endian = 0;
  if (pipe->broken) return NT_STATUS_V(NT_STATUS_CONNECTION_DISCONNECTED);
  pthread_mutex_lock(&library_lock);
  /* Each call has its own bound: a caller's deadline may leave less than the last. */
  dcerpc_binding_handle_set_timeout(pipe->pipe->binding_handle, timeout_s);
  TALLOC_CTX* call = talloc_new(pipe->mem);
  struct tevent_req* req =
      call == NULL ? NULL
                   : dcerpc_binding_handle_raw_call_send(call, pipe->ev, pipe->pipe->binding_handle,
                                                         NULL, opnum, 0, request, request_length);
  pthread_mutex_unlock(&library_lock);
  if (req == NULL) {
    pthread_mutex_lock(&library_lock);
    talloc_free(call);
    pthread_mutex_unlock(&library_lock);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }
  /* The binding handle times the request out itself; this bound only guards
   * against a library that would not. */
  const bool finished =
      run_until(pipe->ev, request_done, req, now_ms() + (int64_t)(timeout_s + 2) * 1000);
  pthread_mutex_lock(&library_lock);
  NTSTATUS status = NT_STATUS_IO_TIMEOUT;
  if (finished) {
    uint8_t* response = NULL;
    size_t response_length = 0;
    uint32_t flags = 0;
    status = dcerpc_binding_handle_raw_call_recv(req, call, &response, &response_length, &flags);
    if (NT_STATUS_IS_OK(status)) {
      *big_endian = (flags & LIBNDR_FLAG_BIGENDIAN) != 0;
      sink(sink_context, response, response_length);
    }
  }
  if (NT_STATUS_EQUAL(status, NT_STATUS_IO_TIMEOUT)) pipe->broken = true;
  talloc_free(call);
  pthread_mutex_unlock(&library_lock);
  return NT_STATUS_V(status);
}

void glimmora_rpc_close(struct glimmora_rpc_pipe* pipe) {
  if (pipe == NULL) return;
  pthread_mutex_lock(&library_lock);
  close_locked(pipe);
  pthread_mutex_unlock(&library_lock);
}

uint32_t glimmora_rpc_ntstatus_to_win32(uint32_t status) {
  return W_ERROR_V(ntstatus_to_werror(NT_STATUS(status)));
}
