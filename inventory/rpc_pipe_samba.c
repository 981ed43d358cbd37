#include "inventory/rpc_pipe_samba.h"

#include <pthread.h>
#include <stdbool.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <talloc.h>
#include <tevent.h>
#include <time.h>

#include <charset.h>
#include <core/error.h>
#include <core/ntstatus.h>
#include <core/werror.h>
/* credentials.h names enums that only dcerpc.h's includes declare. */
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

struct glimmora_rpc_pipe {
  TALLOC_CTX* mem; /* the pipe, its connection, configuration and credentials */
  /* Apart from mem and freed after it: freeing the pipe still queues the
   * SMB close on the event context. */
  struct tevent_context* ev;
  struct dcerpc_pipe* pipe;
};

static int64_t now_ms(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void on_deadline(struct tevent_context* ev, struct tevent_timer* timer, struct timeval now,
                        void* private_data) {
  (void)ev;
  (void)timer;
  (void)now;
  *(bool*)private_data = true;
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

/* Process-wide state the library sets up lazily: security mechanisms, the
 * event back ends, the character-set handle. Done once, before any thread
 * makes a connection. */
static pthread_once_t library_once = PTHREAD_ONCE_INIT;
static void library_init(void) {
  dcerpc_init();
  struct tevent_context* ev = tevent_context_init(NULL);
  talloc_free(ev);
  (void)strlen_m("x");
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
  lpcfg_set_cmdline(lp, "log level", getenv("DBGLVL") ? getenv("DBGLVL") : "0");
  return lp;
}

uint32_t glimmora_rpc_open(const struct glimmora_rpc_params* params,
                           struct glimmora_rpc_pipe** pipe, int* timed_out) {
  *pipe = NULL;
  *timed_out = 0;
  if (!host_is_plain(params->host) || !host_is_plain(params->pipe_name))
    return NT_STATUS_V(NT_STATUS_INVALID_PARAMETER);

  pthread_once(&library_once, library_init);
  struct glimmora_rpc_pipe* result = talloc_zero(NULL, struct glimmora_rpc_pipe);
  if (result == NULL) return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  result->ev = tevent_context_init(NULL);
  result->mem = talloc_new(NULL);
  TALLOC_CTX* mem = result->mem;
  struct loadparm_context* lp = mem ? client_config(mem) : NULL;
  struct cli_credentials* creds = mem ? cli_credentials_init(mem) : NULL;
  char* binding =
      mem ? talloc_asprintf(mem, "ncacn_np:%s[\\pipe\\%s]", params->host, params->pipe_name) : NULL;
  if (result->ev == NULL || lp == NULL || creds == NULL || binding == NULL) {
    glimmora_rpc_close(result);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }

  cli_credentials_set_conf(creds, lp);
  if (params->use_kerberos) {
    const char* error = NULL;
    cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_REQUIRED, CRED_SPECIFIED);
    if (cli_credentials_set_ccache(creds, lp, params->ccache, CRED_SPECIFIED, &error) != 0) {
      glimmora_rpc_close(result);
      return NT_STATUS_V(NT_STATUS_NO_LOGON_SERVERS);
    }
  } else {
    cli_credentials_set_kerberos_state(creds, CRED_USE_KERBEROS_DISABLED, CRED_SPECIFIED);
    cli_credentials_set_username(creds, params->username ? params->username : "", CRED_SPECIFIED);
    cli_credentials_set_domain(creds, params->domain ? params->domain : "", CRED_SPECIFIED);
    cli_credentials_set_password(creds, params->password ? params->password : "", CRED_SPECIFIED);
  }

  struct composite_context* connect =
      dcerpc_pipe_connect_send(mem, binding, &ndr_table_winreg, creds, result->ev, lp);
  if (connect == NULL) {
    glimmora_rpc_close(result);
    return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  }
  bool expired = false;
  int64_t left = params->deadline_ms - now_ms();
  if (left < 0) left = 0;
  struct tevent_timer* timer = tevent_add_timer(
      result->ev, mem, tevent_timeval_current_ofs(left / 1000, (left % 1000) * 1000), on_deadline,
      &expired);
  while (((const struct glimmora_composite_head*)connect)->state < kCompositeDone && !expired &&
         timer != NULL) {
    if (tevent_loop_once(result->ev) != 0) break;
  }
  if (((const struct glimmora_composite_head*)connect)->state < kCompositeDone) {
    *timed_out = expired;
    talloc_free(connect);
    glimmora_rpc_close(result);
    return NT_STATUS_V(NT_STATUS_IO_TIMEOUT);
  }
  talloc_free(timer);
  NTSTATUS status = dcerpc_pipe_connect_recv(connect, mem, &result->pipe);
  if (!NT_STATUS_IS_OK(status)) {
    glimmora_rpc_close(result);
    return NT_STATUS_V(status);
  }
  dcerpc_binding_handle_set_timeout(result->pipe->binding_handle, params->request_timeout_s);
  *pipe = result;
  return 0;
}

uint32_t glimmora_rpc_call(struct glimmora_rpc_pipe* pipe, uint16_t opnum, const uint8_t* request,
                           size_t request_length, glimmora_rpc_sink sink, void* sink_context,
                           int* big_endian) {
  *big_endian = 0;
  TALLOC_CTX* call = talloc_new(pipe->mem);
  if (call == NULL) return NT_STATUS_V(NT_STATUS_NO_MEMORY);
  uint8_t* response = NULL;
  size_t response_length = 0;
  uint32_t flags = 0;
  NTSTATUS status =
      dcerpc_binding_handle_raw_call(pipe->pipe->binding_handle, NULL, opnum, 0, request,
                                     request_length, call, &response, &response_length, &flags);
  if (NT_STATUS_IS_OK(status)) {
    *big_endian = (flags & LIBNDR_FLAG_BIGENDIAN) != 0;
    sink(sink_context, response, response_length);
  }
  talloc_free(call);
  return NT_STATUS_V(status);
}

void glimmora_rpc_close(struct glimmora_rpc_pipe* pipe) {
  if (pipe == NULL) return;
  talloc_free(pipe->mem);
  talloc_free(pipe->ev);
  talloc_free(pipe);
}

uint32_t glimmora_rpc_ntstatus_to_win32(uint32_t status) {
  return W_ERROR_V(ntstatus_to_werror(NT_STATUS(status)));
}

const char* glimmora_rpc_ntstatus_name(uint32_t status) {
  return nt_errstr(NT_STATUS(status));
}

int glimmora_rpc_have_kerberos_ticket(const char* ccache, char* why, size_t why_size) {
  pthread_once(&library_once, library_init);
  TALLOC_CTX* mem = talloc_new(NULL);
  if (mem == NULL) return 0;
  struct loadparm_context* lp = client_config(mem);
  struct cli_credentials* creds = cli_credentials_init(mem);
  int ok = 0;
  if (lp != NULL && creds != NULL) {
    const char* error = NULL;
    cli_credentials_set_conf(creds, lp);
    ok = cli_credentials_set_ccache(creds, lp, ccache, CRED_SPECIFIED, &error) == 0;
    if (!ok && why_size > 0) snprintf(why, why_size, "%s", error ? error : "no ticket cache");
  }
  talloc_free(mem);
  return ok;
}
