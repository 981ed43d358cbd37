#include "inventory/rpc/winreg_connection.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <utility>

#include "inventory/rpc/connect_failure.h"
#include "inventory/rpc/pipe_call.h"
#include "inventory/rpc/rpc_pipe_samba.h"

namespace glimmora {
namespace {}  // namespace

WinregConnection::WinregConnection(UniquePipe pipe, unsigned requestTimeoutS, Deadline deadline)
    : pipe_(std::move(pipe)), requestTimeoutS_(requestTimeoutS), deadline_(std::move(deadline)) {}

void WinregConnection::StartExtraPipes(std::size_t first, std::size_t maxPipes,
                                       std::string pipeName) {
  {
    std::lock_guard lock(callMutex_);
    maxPipes_ = maxPipes;
    extraPipeName_ = std::move(pipeName);
  }
  Widen(1 + first);
}

void WinregConnection::Widen(std::size_t width) {
  std::lock_guard lock(callMutex_);
  width = std::min(width, maxPipes_);
  if (closed_) return;
  const std::size_t now = glimmora_rpc_pipe_count(pipe_.get());
  if (width <= now) return;
  glimmora_rpc_start_pipes(pipe_.get(), static_cast<unsigned>(width - now),
                           extraPipeName_.empty() ? nullptr : extraPipeName_.c_str());
}

long WinregConnection::Call(std::uint16_t opnum, const winreg::Bytes& request,
                            winreg::Bytes* response) {
  std::lock_guard lock(callMutex_);
  if (closed_) return kErrorInvalidHandle;
  int bigEndian = 0;
  response->clear();
  // A caller under a deadline (a batch's workstation) has only what is left of it.
  const auto left = deadline_.TimeLeftWithin(std::chrono::seconds(requestTimeoutS_));
  if (left.count() <= 0) return kErrorTimeout;
  const auto timeoutS =
      static_cast<unsigned>(std::chrono::ceil<std::chrono::seconds>(left).count());
  const std::uint32_t status = glimmora_rpc_call(pipe_.get(), opnum, request.data(), request.size(),
                                                 timeoutS, KeepResponse, response, &bigEndian);
  if (status != 0) {
    MarkLost(TransportCode(status));
    return TransportCode(status);
  }
  // Our parsers read little-endian; servers answer little-endian callers so.
  if (bigEndian) return kErrorBadStubData;
  return kErrorSuccess;
}

void WinregConnection::Run(std::vector<WinregCall>& calls) {
  std::lock_guard lock(callMutex_);
  const auto failAll = [&](long code) {
    for (WinregCall& call : calls) {
      call.transport = code;
      call.broken = true;
    }
  };
  if (closed_) return failAll(kErrorInvalidHandle);
  if (deadline_.TimeLeftWithin(std::chrono::seconds(requestTimeoutS_)).count() <= 0) {
    return failAll(kErrorTimeout);
  }
  const std::optional<DeadlineClock::time_point> at = deadline_.At();
  std::vector<glimmora_rpc_request> requests(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    calls[i].response.clear();
    requests[i] = {
        calls[i].opnum, calls[i].request.data(), calls[i].request.size(), &calls[i].response, 0, 0};
  }
  glimmora_rpc_wave(pipe_.get(), requests.data(), requests.size(), requestTimeoutS_,
                    at ? std::max<std::int64_t>(1, MonotonicMs(*at)) : 0, KeepResponse);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    calls[i].broken = requests[i].status != 0;
    calls[i].refused = (requests[i].status & 0xFFFF0000u) == kRpcFacilityError;
    calls[i].transport = calls[i].broken          ? TransportCode(requests[i].status)
                         : requests[i].big_endian ? kErrorBadStubData
                                                  : kErrorSuccess;
  }
}

std::size_t WinregConnection::Width() {
  return glimmora_rpc_pipe_count(pipe_.get());
}

bool WinregConnection::Lost(long* code) const {
  if (!lost_) return false;
  *code = lostCode_;
  return true;
}

void WinregConnection::MarkLost(long code) {
  lostCode_ = code;
  lost_ = true;
}

std::shared_ptr<const RegistrySnapshot> WinregConnection::Snapshot() const {
  std::lock_guard lock(snapshotMutex_);
  return snapshot_;
}

void WinregConnection::KeepSnapshot(std::shared_ptr<const RegistrySnapshot> snapshot) {
  std::lock_guard lock(snapshotMutex_);
  snapshot_ = std::move(snapshot);
}

void WinregConnection::Close() {
  std::lock_guard lock(callMutex_);
  closed_ = true;
  pipe_.reset();
}

}  // namespace glimmora
