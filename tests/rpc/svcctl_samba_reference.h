#pragma once
/* Samba's own svcctl marshalling, through libndr-standard's generated
 * encoder, as the reference the hand-built messages are compared with. In C
 * because Samba's headers do not compile as C++. Every function fills *stub
 * and returns 0, or returns -1 when Samba refused the call or the stub does
 * not fit. Handles are the 20 bytes as they go on the wire. */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { kSambaSvcctlMaxStub = 65536 };

struct samba_svcctl_stub {
  uint8_t data[kSambaSvcctlMaxStub];
  size_t length;
};

/* Requests (the [in] half of each call). A NULL machine name goes out as a
 * null pointer. */
int samba_svcctl_open_sc_manager_request(const char* machine_name, uint32_t access_mask,
                                         struct samba_svcctl_stub* stub);
int samba_svcctl_open_service_request(const uint8_t manager[20], const char* service_name,
                                      uint32_t access_mask, struct samba_svcctl_stub* stub);
int samba_svcctl_query_status_request(const uint8_t service[20], struct samba_svcctl_stub* stub);
int samba_svcctl_query_config_request(const uint8_t service[20], uint32_t offered,
                                      struct samba_svcctl_stub* stub);
/* Only the start type changes: type and error control "no change", no strings. */
int samba_svcctl_change_start_type_request(const uint8_t service[20], uint32_t start_type,
                                           struct samba_svcctl_stub* stub);
int samba_svcctl_start_request(const uint8_t service[20], struct samba_svcctl_stub* stub);
int samba_svcctl_control_request(const uint8_t service[20], uint32_t control,
                                 struct samba_svcctl_stub* stub);
int samba_svcctl_close_request(const uint8_t handle[20], struct samba_svcctl_stub* stub);

/* Responses (the [out] half). opnum picks among the calls of the same shape:
 * 15, 16 or 0 for a handle, 6 or 1 for a service status. */
int samba_svcctl_handle_response(uint16_t opnum, const uint8_t handle[20], uint32_t result,
                                 struct samba_svcctl_stub* stub);

struct samba_svcctl_status {
  uint32_t type;
  uint32_t state;
  uint32_t controls_accepted;
  uint32_t win32_exit_code;
  uint32_t service_exit_code;
  uint32_t check_point;
  uint32_t wait_hint;
};
int samba_svcctl_status_response(uint16_t opnum, const struct samba_svcctl_status* status,
                                 uint32_t result, struct samba_svcctl_stub* stub);

/* UTF-8 strings; NULL ones go out as null pointers. */
struct samba_svcctl_config {
  uint32_t service_type;
  uint32_t start_type;
  uint32_t error_control;
  const char* binary_path;
  const char* load_order_group;
  uint32_t tag_id;
  const char* dependencies;
  const char* start_name;
  const char* display_name;
};
int samba_svcctl_query_config_response(const struct samba_svcctl_config* config, uint32_t needed,
                                       uint32_t result, struct samba_svcctl_stub* stub);
/* tag_id NULL: no tag answered. */
int samba_svcctl_change_config_response(const uint32_t* tag_id, uint32_t result,
                                        struct samba_svcctl_stub* stub);
int samba_svcctl_start_response(uint32_t result, struct samba_svcctl_stub* stub);

/* A winreg call read by Samba's decoder and written again by its encoder:
 * the request alone (response NULL), or the request and then its answer, as
 * the client library reads an answer (the request's counts bound it). 0 when
 * Samba read and wrote both; each stub then holds what it wrote. */
int samba_winreg_reencode(uint16_t opnum, const uint8_t* request, size_t request_length,
                          const uint8_t* response, size_t response_length,
                          struct samba_svcctl_stub* request_out,
                          struct samba_svcctl_stub* response_out);

#ifdef __cplusplus
}
#endif
