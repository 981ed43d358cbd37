#pragma once
// The stub data of the six Remote Registry (winreg) calls the display scan
// makes, in NDR with little-endian integers: requests built byte for byte,
// responses parsed with every length, count, offset and pointer checked.
// No transport here: the bytes go over whatever pipe the caller holds.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace glimmora::winreg {

using Bytes = std::vector<std::uint8_t>;

// Operation numbers of the winreg interface.
inline constexpr std::uint16_t kOpOpenLocalMachine = 2;
inline constexpr std::uint16_t kOpCloseKey = 5;
inline constexpr std::uint16_t kOpEnumKey = 9;
inline constexpr std::uint16_t kOpOpenKey = 15;
inline constexpr std::uint16_t kOpQueryValue = 17;
inline constexpr std::uint16_t kOpQueryMultipleValues2 = 34;

// The size of a subkey-name buffer the server is offered, in bytes: room for
// the longest name the scan accepts and its terminating zero.
inline constexpr std::uint16_t kEnumNameBufferBytes = 2 * (258 + 1);
// The largest value data the protocol carries.
inline constexpr std::uint32_t kMaxValueDataBytes = 0x4000000;

// The server's opaque key handle: a 20-byte context handle.
struct KeyHandle {
  std::array<std::uint8_t, 20> bytes{};
  bool IsNull() const;
  friend bool operator==(const KeyHandle&, const KeyHandle&) = default;
};

// Requests. A path or value name that cannot be sent (not valid UTF-8, or
// longer than the protocol's 16-bit byte counts allow) gives false.
Bytes EncodeOpenLocalMachine(std::uint32_t accessMask);
bool EncodeOpenKey(const KeyHandle& parent, std::string_view utf8Path, std::uint32_t options,
                   std::uint32_t accessMask, Bytes* request);
Bytes EncodeEnumKey(const KeyHandle& key, std::uint32_t index);
bool EncodeQueryValue(const KeyHandle& key, std::string_view utf8ValueName,
                      std::uint32_t dataBufferBytes, Bytes* request);
// Several values of one key in one call: their data comes back in one buffer
// of `dataBufferBytes`, which goes out zeroed (the protocol sends it in).
bool EncodeQueryMultipleValues(const KeyHandle& key, std::span<const std::string_view> utf8Names,
                               std::uint32_t dataBufferBytes, Bytes* request);
Bytes EncodeCloseKey(const KeyHandle& key);

// Responses. Each parser returns false when the bytes are not a well-formed
// response (cut short, lengths that disagree, counts past the end, bytes left
// over); then the output holds nothing useful. `status` is the Windows error
// code the server answered.
struct HandleResponse {
  KeyHandle handle;
  std::uint32_t status = 0;
};
bool ParseOpenLocalMachine(std::span<const std::uint8_t> stub, HandleResponse* response);
bool ParseOpenKey(std::span<const std::uint8_t> stub, HandleResponse* response);
bool ParseCloseKey(std::span<const std::uint8_t> stub, HandleResponse* response);

struct EnumKeyResponse {
  std::string nameUtf16;  // UTF-16LE bytes, up to the first zero code unit
  std::uint32_t status = 0;
};
bool ParseEnumKey(std::span<const std::uint8_t> stub, EnumKeyResponse* response);

struct QueryValueResponse {
  std::uint32_t type = 0;
  Bytes data;                    // as the registry keeps it (UTF-16 for strings)
  std::uint32_t neededSize = 0;  // the data size the server reported
  std::uint32_t status = 0;
};
bool ParseQueryValue(std::span<const std::uint8_t> stub, QueryValueResponse* response);

// On success one entry per name asked for, in that order; on ERROR_MORE_DATA
// no entries and `neededSize` the buffer that would hold them all.
struct MultipleValue {
  std::uint32_t type = 0;
  Bytes data;
};
struct QueryMultipleValuesResponse {
  std::vector<MultipleValue> values;
  std::uint32_t neededSize = 0;
  std::uint32_t status = 0;
};
bool ParseQueryMultipleValues(std::span<const std::uint8_t> stub, std::size_t namesAsked,
                              QueryMultipleValuesResponse* response);

// Key paths and value names go out in UTF-16; invalid UTF-8 gives false.
bool Utf8ToUtf16(std::string_view utf8, std::u16string* utf16);

// Value data as RegQueryValueExA gives it: string types (REG_SZ,
// REG_EXPAND_SZ, REG_MULTI_SZ) converted from UTF-16LE to the program's 8-bit
// text, zeros included (AnsiFromUtf16); every other type unchanged.
Bytes ValueDataToAnsi(std::uint32_t type, std::span<const std::uint8_t> data);

}  // namespace glimmora::winreg
