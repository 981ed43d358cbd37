#pragma once
// The display subtree of a workstation read ahead over the Remote Registry
// protocol: the calls the display scan will make, sent in waves of calls that
// do not depend on each other, and their answers kept, failures included, so
// that the scan is then served from memory with exactly the answers it would
// have had call by call. Only SYSTEM\CurrentControlSet\Enum\DISPLAY is read.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "inventory/rpc/winreg_messages.h"

namespace glimmora {

// An answer that does not parse.
inline constexpr long kErrorBadStubData = 1783;

// One call and what came back. `transport` is the Windows code of a call that
// came to no usable answer (kErrorSuccess when answered); `broken` tells that
// the connection is gone with it.
struct WinregCall {
  std::uint16_t opnum = 0;
  winreg::Bytes request;
  winreg::Bytes response;
  long transport = 0;
  bool broken = false;
  // The server answered with a fault (an operation it does not implement):
  // the call failed, the pipe goes on.
  bool refused = false;
};

// Sends calls over the connection, as many at once as it has pipes.
class WinregWaves {
 public:
  virtual ~WinregWaves() = default;
  // Every call comes back answered, failed or broken.
  virtual void Run(std::vector<WinregCall>& calls) = 0;
  // How many calls one wave can have in flight now.
  virtual std::size_t Width() = 0;
  // Opens more pipes, up to `width` and the connection's own bound, for the
  // waves after the next: the reader knows how wide they will be.
  virtual void Widen(std::size_t width) { (void)width; }
};

// What an answer means to the caller, the same for a call made on its own and
// one of a wave. Each gives the Windows code the registry function returns.
long OpenKeyAnswer(const WinregCall& call, winreg::KeyHandle* handle);
long EnumKeyAnswer(const WinregCall& call, std::string* name);
// kQueryAgain and *retryBytes when the value is longer than bufferBytes.
inline constexpr long kQueryAgain = -1;
long QueryValueAnswer(const WinregCall& call, std::uint32_t bufferBytes, std::uint32_t* retryBytes,
                      std::uint32_t* type, std::vector<std::uint8_t>* data);
// The first buffer offered for a value's data.
inline constexpr std::uint32_t kFirstValueBufferBytes = 1024;
// The buffer offered for an instance's values together: goes out whole, so
// no more than they take as a rule.
inline constexpr std::uint32_t kFirstMultipleValuesBytes = 512;

struct SnapshotValue {
  long code = 0;
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

// One key opened during the read-ahead.
struct SnapshotKey {
  winreg::KeyHandle handle;
  std::vector<std::string> subkeys;  // the answers of indices 0..n-1
  long enumEnd = 0;                  // the answer at index n, once complete
  bool enumComplete = false;
  std::unordered_map<std::string, SnapshotValue> values;  // by the name asked for
};

struct SnapshotOpen {
  long code = 0;
  std::size_t key = 0;  // into keys, when code is kErrorSuccess
};

class RegistrySnapshot {
 public:
  // Opens below the root, by the exact path asked for.
  std::unordered_map<std::string, SnapshotOpen> opens;
  std::deque<SnapshotKey> keys;
  // The failure that ended the read-ahead when the connection broke (0: none):
  // what is not here could not be read, and reads as that failure.
  long breakCode = 0;
};

// Reads ahead what the display scan asks, starting from the open of
// kDisplayEnumPath below `root`, with each instance's Control key when
// `withPresence`. A subkey list longer than `maxSubkeys` is left for the
// calls themselves to go on with.
inline constexpr std::size_t kMaxSnapshotSubkeys = 100000;
RegistrySnapshot ReadDisplaySubtree(WinregWaves& waves, const winreg::KeyHandle& root,
                                    std::size_t maxSubkeys = kMaxSnapshotSubkeys,
                                    bool withPresence = false);

}  // namespace glimmora
