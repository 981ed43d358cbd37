#include "inventory/rpc/pipe_call.h"

#include "inventory/registry/registry_access.h"
#include "inventory/rpc/connect_failure.h"
#include "inventory/rpc/rpc_pipe_samba.h"

namespace glimmora {

std::int64_t MonotonicMs(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void KeepResponse(void* context, const std::uint8_t* data, std::size_t length) {
  static_cast<std::vector<std::uint8_t>*>(context)->assign(data, data + length);
}

long TransportCode(std::uint32_t status) {
  constexpr long kFirstRpcError = 1699;  // RPC_S_ errors begin at 1700 for status ...0001
  if (status == kStatusIoTimeout) return kErrorTimeout;
  if ((status & 0xFFFF0000u) == kRpcFacilityError && (status & 0xFFFFu) != 0)
    return kFirstRpcError + static_cast<long>(status & 0xFFFFu);
  return static_cast<long>(glimmora_rpc_ntstatus_to_win32(status));
}

}  // namespace glimmora
