// Remote Registry answers of any bytes, as whatever listens on port 445 may
// send them, through the parser of each call's reply; and key paths and value
// names of any bytes through the request encoders.
//
// The first byte chooses the call (its value modulo 6); the rest is the stub:
//   0 OpenLocalMachine, 1 OpenKey, 2 CloseKey, 3 EnumKey, 4 QueryValue,
//   5 the rest is a path and a value name, split at its first zero byte, for
//     EncodeOpenKey and EncodeQueryValue.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "inventory/ansi_conversion.h"
#include "inventory/rpc/winreg_messages.h"

namespace glimmora::winreg {
namespace {

void CheckHandleAnswer(bool (*parse)(std::span<const std::uint8_t>, HandleResponse*),
                       std::span<const std::uint8_t> stub) {
  HandleResponse response;
  if (!parse(stub, &response)) return;
  // A context handle and a status, nothing more and nothing less.
  FUZZ_CHECK(stub.size() == 24);
  HandleResponse again;
  FUZZ_CHECK(parse(stub, &again) && again.handle == response.handle &&
             again.status == response.status);
}

void CheckEnumKeyAnswer(std::span<const std::uint8_t> stub) {
  EnumKeyResponse response;
  if (!ParseEnumKey(stub, &response)) return;
  FUZZ_CHECK(response.nameUtf16.size() % 2 == 0);
  FUZZ_CHECK(response.nameUtf16.size() <= stub.size());
  // Cut at the first zero code unit.
  for (std::size_t i = 0; i < response.nameUtf16.size(); i += 2)
    FUZZ_CHECK(response.nameUtf16[i] != 0 || response.nameUtf16[i + 1] != 0);
  // The name as the scan gets it: any code units make some text.
  const std::string name = AnsiFromUtf16(response.nameUtf16);
  FUZZ_CHECK(name.size() <= 3 * response.nameUtf16.size() / 2);
}

void CheckQueryValueAnswer(std::span<const std::uint8_t> stub) {
  QueryValueResponse response;
  if (!ParseQueryValue(stub, &response)) return;
  FUZZ_CHECK(response.data.size() <= stub.size());
  FUZZ_CHECK(response.data.size() <= kMaxValueDataBytes);
  if (response.status == 0) FUZZ_CHECK(response.data.size() <= response.neededSize);
  const Bytes ansi = ValueDataToAnsi(response.type, response.data);
  FUZZ_CHECK(ansi.size() <= 3 * response.data.size() / 2 + 3);
}

void CheckRequests(std::string_view text) {
  const std::size_t zero = text.find('\0');
  const std::string_view path = text.substr(0, zero);
  const std::string_view valueName =
      zero == std::string_view::npos ? std::string_view() : text.substr(zero + 1);
  KeyHandle handle;
  handle.bytes[0] = 1;
  Bytes request;
  std::u16string wide;
  const bool valid = Utf8ToUtf16(path, &wide);
  if (EncodeOpenKey(handle, path, 0, 0x20019, &request)) {
    FUZZ_CHECK(valid);
    // Handle, counted string with its zero (padded to 4 bytes), options, access.
    const std::size_t stringBytes = 2 * (wide.size() + 1);
    FUZZ_CHECK(request.size() == 20 + 20 + (stringBytes + 3) / 4 * 4 + 8);
  } else {
    FUZZ_CHECK(!valid || wide.size() + 1 > 0xFFFF / 2);
  }
  if (EncodeQueryValue(handle, valueName, 1024, &request)) FUZZ_CHECK(!request.empty());
}

}  // namespace
}  // namespace glimmora::winreg

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmora::winreg;
  if (size == 0) return 0;
  const std::span<const std::uint8_t> stub(data + 1, size - 1);
  switch (data[0] % 6) {
    case 0:
      CheckHandleAnswer(ParseOpenLocalMachine, stub);
      break;
    case 1:
      CheckHandleAnswer(ParseOpenKey, stub);
      break;
    case 2:
      CheckHandleAnswer(ParseCloseKey, stub);
      break;
    case 3:
      CheckEnumKeyAnswer(stub);
      break;
    case 4:
      CheckQueryValueAnswer(stub);
      break;
    default:
      CheckRequests(std::string_view(reinterpret_cast<const char*>(stub.data()), stub.size()));
      break;
  }
  return 0;
}
