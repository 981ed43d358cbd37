#pragma once
/* A named pipe of one workstation (winreg, or svcctl for its service
 * manager), opened and driven through Samba's public client libraries. Safe to
 * call from several threads (see the library lock in the .c file). Written in
 * C because Samba's headers do not compile as C++; registry_rpc.cpp and
 * service_manager_rpc.cpp are its users. Results are NTSTATUS values
 * (0 succeeds). */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct glimmora_rpc_pipe;

/* The interface a pipe is bound to. */
enum glimmora_rpc_interface {
  GLIMMORA_RPC_WINREG = 0,
  GLIMMORA_RPC_SVCCTL = 1,
};

struct glimmora_rpc_params {
  const char* host;
  const char* pipe_name; /* "winreg", "svcctl" */
  enum glimmora_rpc_interface interface_id;
  /* Kerberos from the ticket cache (ccache; NULL: the default one) when
   * use_kerberos is set; otherwise NTLM with these three. */
  int use_kerberos;
  const char* ccache;
  const char* username;
  const char* domain;
  const char* password;
  /* Absolute deadline of the whole connect, CLOCK_MONOTONIC milliseconds. */
  int64_t deadline_ms;
  /* Bound on each call once connected, in seconds. */
  unsigned request_timeout_s;
};

/* Whether a host or pipe name can go into a binding string: glimmora_rpc_open
 * refuses others with NT_STATUS_INVALID_PARAMETER. */
int glimmora_rpc_name_is_plain(const char* name);

/* Opens \pipe\<pipe_name> on the host and binds the interface. On success
 * *pipe belongs to the caller (glimmora_rpc_close). NT_STATUS_IO_TIMEOUT when
 * the deadline passed first. */
uint32_t glimmora_rpc_open(const struct glimmora_rpc_params* params,
                           struct glimmora_rpc_pipe** pipe);

/* Opens \pipe\<pipe_name> on the SMB session of `base` (no new logon) and
 * binds the interface in an association group of its own. The two pipes may
 * be closed in either order: the session lives until both are. Both are then
 * used from one thread at a time (they share one event context). */
uint32_t glimmora_rpc_open_beside(struct glimmora_rpc_pipe* base, const char* pipe_name,
                                  enum glimmora_rpc_interface interface_id, int64_t deadline_ms,
                                  unsigned request_timeout_s, struct glimmora_rpc_pipe** pipe);

/* One call: request stub in, response stub handed to sink (valid only during
 * the callback). *big_endian is set when the answer's integers are big-endian.
 * After a call that timed out the pipe only answers "disconnected". One call
 * at a time per pipe; calls on different pipes may run on different threads. */
typedef void (*glimmora_rpc_sink)(void* context, const uint8_t* data, size_t length);
uint32_t glimmora_rpc_call(struct glimmora_rpc_pipe* pipe, uint16_t opnum, const uint8_t* request,
                           size_t request_length, unsigned timeout_s, glimmora_rpc_sink sink,
                           void* sink_context, int* big_endian);

/* Starts opening up to `wanted` more pipes on the session of `pipe` (named
 * pipe_name; NULL: the same name as the first), bound to its interface in
 * its association group, so that the handles one pipe opens are valid on all;
 * never more than the session's credits let be outstanding at once. They come
 * into use by the waves below as they are ready; a pipe the server refuses is
 * left out. Returns how many were started. */
unsigned glimmora_rpc_start_pipes(struct glimmora_rpc_pipe* pipe, unsigned wanted,
                                  const char* pipe_name);

/* Pipes ready for calls, the first one included, and those still opening
 * (a wave takes them into use as they become ready). */
unsigned glimmora_rpc_pipe_count(struct glimmora_rpc_pipe* pipe);

/* One call of a wave: the request stays the caller's and must live until the
 * wave returns; its answer goes to the wave's sink with sink_context. */
struct glimmora_rpc_request {
  uint16_t opnum;
  const uint8_t* data;
  size_t length;
  void* sink_context;
  uint32_t status; /* out: NTSTATUS of the transport, 0 when answered */
  int big_endian;  /* out */
};

/* Runs the calls over the ready pipes, one call in flight on each, until each
 * has its answer or has failed. Each call is bounded by timeout_s from when it
 * is sent, and none is sent after deadline_ms (CLOCK_MONOTONIC, 0: none). A
 * call an extra pipe cannot serve for want of a shared association group is
 * sent again on another pipe, and that pipe is no longer used. Returns the
 * first failure of a call, 0 when every call was answered; after a call that
 * timed out, every later call answers "disconnected". */
uint32_t glimmora_rpc_wave(struct glimmora_rpc_pipe* pipe, struct glimmora_rpc_request* requests,
                           size_t count, unsigned timeout_s, int64_t deadline_ms,
                           glimmora_rpc_sink sink);

void glimmora_rpc_close(struct glimmora_rpc_pipe* pipe);

/* The Windows error code Samba maps an NTSTATUS to. */
uint32_t glimmora_rpc_ntstatus_to_win32(uint32_t status);

#ifdef __cplusplus
}
#endif
