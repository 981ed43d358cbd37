#include "tests/rpc/svcctl_samba_reference.h"

#include <string.h>
#include <talloc.h>

#include <gen_ndr/ndr_svcctl.h>
#include <ndr.h>

/* libndr-standard exports the table; no header of it is installed. */
extern const struct ndr_interface_table ndr_table_winreg;

/* Pushes one half of a call through the interface table, as the client and
 * server libraries do before a request or an answer goes on the wire. */
static int push_call(uint16_t opnum, int flags, const void* call, struct samba_svcctl_stub* stub) {
  TALLOC_CTX* mem = talloc_new(NULL);
  struct ndr_push* push = mem ? ndr_push_init_ctx(mem) : NULL;
  int result = -1;
  if (push != NULL && opnum < ndr_table_svcctl.num_calls &&
      ndr_table_svcctl.calls[opnum].ndr_push(push, flags, call) == NDR_ERR_SUCCESS &&
      push->offset <= sizeof stub->data) {
    memcpy(stub->data, push->data, push->offset);
    stub->length = push->offset;
    result = 0;
  }
  talloc_free(mem);
  return result;
}

/* The handle's 20 bytes read back by Samba's own decoder, so that its
 * encoder puts them out again exactly. */
static int load_handle(const uint8_t bytes[20], struct policy_handle* handle) {
  DATA_BLOB blob = {(uint8_t*)bytes, 20};
  TALLOC_CTX* mem = talloc_new(NULL);
  struct ndr_pull* pull = mem ? ndr_pull_init_blob(&blob, mem) : NULL;
  int result = -1;
  memset(handle, 0, sizeof *handle);
  if (pull != NULL &&
      ndr_pull_policy_handle(pull, NDR_SCALARS | NDR_BUFFERS, handle) == NDR_ERR_SUCCESS) {
    result = 0;
  }
  talloc_free(mem);
  return result;
}

int samba_svcctl_open_sc_manager_request(const char* machine_name, uint32_t access_mask,
                                         struct samba_svcctl_stub* stub) {
  struct svcctl_OpenSCManagerW r;
  memset(&r, 0, sizeof r);
  r.in.MachineName = machine_name;
  r.in.DatabaseName = NULL;
  r.in.access_mask = access_mask;
  return push_call(NDR_SVCCTL_OPENSCMANAGERW, NDR_IN, &r, stub);
}

int samba_svcctl_open_service_request(const uint8_t manager[20], const char* service_name,
                                      uint32_t access_mask, struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_OpenServiceW r;
  if (load_handle(manager, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.scmanager_handle = &handle;
  r.in.ServiceName = service_name;
  r.in.access_mask = access_mask;
  return push_call(NDR_SVCCTL_OPENSERVICEW, NDR_IN, &r, stub);
}

int samba_svcctl_query_status_request(const uint8_t service[20], struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_QueryServiceStatus r;
  if (load_handle(service, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.handle = &handle;
  return push_call(NDR_SVCCTL_QUERYSERVICESTATUS, NDR_IN, &r, stub);
}

int samba_svcctl_query_config_request(const uint8_t service[20], uint32_t offered,
                                      struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_QueryServiceConfigW r;
  if (load_handle(service, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.handle = &handle;
  r.in.offered = offered;
  return push_call(NDR_SVCCTL_QUERYSERVICECONFIGW, NDR_IN, &r, stub);
}

int samba_svcctl_change_start_type_request(const uint8_t service[20], uint32_t start_type,
                                           struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_ChangeServiceConfigW r;
  if (load_handle(service, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.handle = &handle;
  r.in.type = 0xFFFFFFFF;
  r.in.start_type = (enum svcctl_StartType)start_type;
  r.in.error_control = (enum svcctl_ErrorControl)0xFFFFFFFF;
  return push_call(NDR_SVCCTL_CHANGESERVICECONFIGW, NDR_IN, &r, stub);
}

int samba_svcctl_start_request(const uint8_t service[20], struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_StartServiceW r;
  if (load_handle(service, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.handle = &handle;
  r.in.NumArgs = 0;
  r.in.Arguments = NULL;
  return push_call(NDR_SVCCTL_STARTSERVICEW, NDR_IN, &r, stub);
}

int samba_svcctl_control_request(const uint8_t service[20], uint32_t control,
                                 struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_ControlService r;
  if (load_handle(service, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.handle = &handle;
  r.in.control = (enum SERVICE_CONTROL)control;
  return push_call(NDR_SVCCTL_CONTROLSERVICE, NDR_IN, &r, stub);
}

int samba_svcctl_close_request(const uint8_t handle_bytes[20], struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  struct svcctl_CloseServiceHandle r;
  if (load_handle(handle_bytes, &handle) != 0) return -1;
  memset(&r, 0, sizeof r);
  r.in.handle = &handle;
  return push_call(NDR_SVCCTL_CLOSESERVICEHANDLE, NDR_IN, &r, stub);
}

int samba_svcctl_handle_response(uint16_t opnum, const uint8_t handle_bytes[20], uint32_t result,
                                 struct samba_svcctl_stub* stub) {
  struct policy_handle handle;
  if (load_handle(handle_bytes, &handle) != 0) return -1;
  switch (opnum) {
    case NDR_SVCCTL_OPENSCMANAGERW: {
      struct svcctl_OpenSCManagerW r;
      memset(&r, 0, sizeof r);
      r.out.handle = &handle;
      r.out.result = W_ERROR(result);
      return push_call(opnum, NDR_OUT, &r, stub);
    }
    case NDR_SVCCTL_OPENSERVICEW: {
      struct svcctl_OpenServiceW r;
      memset(&r, 0, sizeof r);
      r.out.handle = &handle;
      r.out.result = W_ERROR(result);
      return push_call(opnum, NDR_OUT, &r, stub);
    }
    case NDR_SVCCTL_CLOSESERVICEHANDLE: {
      struct svcctl_CloseServiceHandle r;
      memset(&r, 0, sizeof r);
      r.out.handle = &handle;
      r.out.result = W_ERROR(result);
      return push_call(opnum, NDR_OUT, &r, stub);
    }
    default:
      return -1;
  }
}

int samba_svcctl_status_response(uint16_t opnum, const struct samba_svcctl_status* status,
                                 uint32_t result, struct samba_svcctl_stub* stub) {
  struct SERVICE_STATUS wire;
  wire.type = status->type;
  wire.state = (enum svcctl_ServiceStatus)status->state;
  wire.controls_accepted = status->controls_accepted;
  wire.win32_exit_code = W_ERROR(status->win32_exit_code);
  wire.service_exit_code = status->service_exit_code;
  wire.check_point = status->check_point;
  wire.wait_hint = status->wait_hint;
  switch (opnum) {
    case NDR_SVCCTL_QUERYSERVICESTATUS: {
      struct svcctl_QueryServiceStatus r;
      memset(&r, 0, sizeof r);
      r.out.service_status = &wire;
      r.out.result = W_ERROR(result);
      return push_call(opnum, NDR_OUT, &r, stub);
    }
    case NDR_SVCCTL_CONTROLSERVICE: {
      struct svcctl_ControlService r;
      memset(&r, 0, sizeof r);
      r.out.service_status = &wire;
      r.out.result = W_ERROR(result);
      return push_call(opnum, NDR_OUT, &r, stub);
    }
    default:
      return -1;
  }
}

int samba_svcctl_query_config_response(const struct samba_svcctl_config* config, uint32_t needed,
                                       uint32_t result, struct samba_svcctl_stub* stub) {
  struct QUERY_SERVICE_CONFIG query;
  struct svcctl_QueryServiceConfigW r;
  memset(&query, 0, sizeof query);
  query.service_type = config->service_type;
  query.start_type = (enum svcctl_StartType)config->start_type;
  query.error_control = (enum svcctl_ErrorControl)config->error_control;
  query.executablepath = config->binary_path;
  query.loadordergroup = config->load_order_group;
  query.tag_id = config->tag_id;
  query.dependencies = config->dependencies;
  query.startname = config->start_name;
  query.displayname = config->display_name;
  memset(&r, 0, sizeof r);
  r.out.query = &query;
  r.out.needed = &needed;
  r.out.result = W_ERROR(result);
  return push_call(NDR_SVCCTL_QUERYSERVICECONFIGW, NDR_OUT, &r, stub);
}

int samba_svcctl_change_config_response(const uint32_t* tag_id, uint32_t result,
                                        struct samba_svcctl_stub* stub) {
  uint32_t tag = tag_id ? *tag_id : 0;
  struct svcctl_ChangeServiceConfigW r;
  memset(&r, 0, sizeof r);
  r.out.tag_id = tag_id ? &tag : NULL;
  r.out.result = W_ERROR(result);
  return push_call(NDR_SVCCTL_CHANGESERVICECONFIGW, NDR_OUT, &r, stub);
}

int samba_svcctl_start_response(uint32_t result, struct samba_svcctl_stub* stub) {
  struct svcctl_StartServiceW r;
  memset(&r, 0, sizeof r);
  r.out.result = W_ERROR(result);
  return push_call(NDR_SVCCTL_STARTSERVICEW, NDR_OUT, &r, stub);
}

static int pull_half(const struct ndr_interface_call* call, int flags, const uint8_t* data,
                     size_t length, void* r, TALLOC_CTX* mem) {
  DATA_BLOB blob = {(uint8_t*)data, length};
  struct ndr_pull* pull = ndr_pull_init_blob(&blob, mem);
  if (pull == NULL) return -1;
  pull->flags |= LIBNDR_FLAG_REF_ALLOC; /* as a server reads: [ref] members allocated */
  if (call->ndr_pull(pull, flags, r) != NDR_ERR_SUCCESS) return -1;
  return pull->offset == length ? 0 : -1; /* every byte read */
}

static int push_half(const struct ndr_interface_call* call, int flags, const void* r,
                     struct samba_svcctl_stub* stub, TALLOC_CTX* mem) {
  struct ndr_push* push = ndr_push_init_ctx(mem);
  if (push == NULL || call->ndr_push(push, flags, r) != NDR_ERR_SUCCESS ||
      push->offset > sizeof stub->data) {
    return -1;
  }
  memcpy(stub->data, push->data, push->offset);
  stub->length = push->offset;
  return 0;
}

int samba_winreg_reencode(uint16_t opnum, const uint8_t* request, size_t request_length,
                          const uint8_t* response, size_t response_length,
                          struct samba_svcctl_stub* request_out,
                          struct samba_svcctl_stub* response_out) {
  if (opnum >= ndr_table_winreg.num_calls) return -1;
  const struct ndr_interface_call* call = &ndr_table_winreg.calls[opnum];
  TALLOC_CTX* mem = talloc_new(NULL);
  void* r = mem ? talloc_zero_size(mem, call->struct_size) : NULL;
  int result = -1;
  if (r != NULL && pull_half(call, NDR_IN, request, request_length, r, mem) == 0 &&
      push_half(call, NDR_IN, r, request_out, mem) == 0) {
    result = 0;
    if (response != NULL) {
      result = pull_half(call, NDR_OUT, response, response_length, r, mem) == 0 &&
                       push_half(call, NDR_OUT, r, response_out, mem) == 0
                   ? 0
                   : -1;
    }
  }
  talloc_free(mem);
  return result;
}
