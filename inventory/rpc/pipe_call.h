#pragma once
// What every call over a named pipe of the back end needs from the C layer's
// interface: its deadline as the C layer counts time, a place for the
// answer's bytes, and the transport's failure as a Windows code.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace glimmora {

// The C layer's milliseconds of the monotonic clock.
std::int64_t MonotonicMs(std::chrono::steady_clock::time_point t);

// The answer callback: the bytes into the std::vector<std::uint8_t> at `context`.
void KeepResponse(void* context, const std::uint8_t* data, std::size_t length);

// The transport's failure as Windows reports it. A fault the server answers
// (an operation it does not implement) is an RPC_NT_ status, which Windows
// gives as the RPC_S_ error of the same number; Samba's own mapping keeps
// only the low bits of those.
long TransportCode(std::uint32_t status);

}  // namespace glimmora
