// Remote Registry answers of any bytes, as whatever listens on port 445 may
// send them, through the parser of each call's reply; and key paths and value
// names of any bytes through the request encoders.
//
// The first byte chooses the call (its value modulo 7); the rest is the stub:
//   0 OpenLocalMachine, 1 OpenKey, 2 CloseKey, 3 EnumKey, 4 QueryValue,
//   5 the rest is a path and a value name, split at its first zero byte, for
//     EncodeOpenKey and EncodeQueryValue,
//   6 a read-ahead of the display subtree: the next byte is the number of
//     pipes, then one answer per call in the order the waves ask, each with a
//     2-byte little-endian length (0xFFFF: the connection breaks there; the
//     end of the input breaks it too).
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "inventory/ansi_conversion.h"
#include "inventory/registry/registry_access.h"
#include "inventory/rpc/registry_snapshot.h"
#include "inventory/rpc/winreg_messages.h"

namespace glimmora::winreg {
namespace {

using glimmora::kMaxKeyNameLength;
using glimmora::kQueryAgain;
using glimmora::ReadDisplaySubtree;
using glimmora::RegistrySnapshot;
using glimmora::SnapshotKey;
using glimmora::WinregCall;
using glimmora::WinregWaves;

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

class FuzzedWaves : public WinregWaves {
 public:
  FuzzedWaves(std::span<const std::uint8_t> answers, std::size_t width)
      : answers_(answers), width_(width) {}
  void Run(std::vector<WinregCall>& calls) override {
    for (WinregCall& call : calls) {
      ++calls_;
      if (answers_.size() < 2 || (answers_[0] == 0xFF && answers_[1] == 0xFF)) {
        call.broken = true;
        call.transport = 64;
        continue;
      }
      const std::size_t length =
          std::min<std::size_t>(answers_[0] | (answers_[1] << 8), answers_.size() - 2);
      call.response.assign(answers_.begin() + 2, answers_.begin() + 2 + length);
      answers_ = answers_.subspan(2 + length);
      ++answered_;
    }
  }
  std::size_t Width() override { return width_; }
  std::size_t answered() const { return answered_; }

 private:
  std::span<const std::uint8_t> answers_;
  std::size_t width_;
  std::size_t calls_ = 0;
  std::size_t answered_ = 0;
};

void CheckReadAhead(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  constexpr std::size_t kMaxSubkeys = 64;
  const std::size_t width = 1 + (input[0] & 0x7f) % 24;
  const bool withPresence = (input[0] & 0x80) != 0;
  FuzzedWaves waves(input.subspan(1), width);
  KeyHandle root;
  root.bytes[0] = 1;
  const RegistrySnapshot snapshot = ReadDisplaySubtree(waves, root, kMaxSubkeys, withPresence);
  // Only an answered open makes a key, and each open names one.
  FUZZ_CHECK(snapshot.keys.size() <= waves.answered());
  FUZZ_CHECK(snapshot.opens.size() <= (withPresence ? 3 : 2) * waves.answered() + 1);
  for (const auto& [path, open] : snapshot.opens) {
    FUZZ_CHECK(path.rfind("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY\\", 0) == 0);
    if (open.code == 0) FUZZ_CHECK(open.key < snapshot.keys.size());
  }
  for (const SnapshotKey& key : snapshot.keys) {
    // A list stops at the cap, give or take the indices of its last wave.
    FUZZ_CHECK(key.subkeys.size() <= kMaxSubkeys + std::max<std::size_t>(2, width));
    if (key.enumComplete) FUZZ_CHECK(key.enumEnd != 0);
    for (const std::string& name : key.subkeys) FUZZ_CHECK(name.size() <= kMaxKeyNameLength);
    for (const auto& [name, value] : key.values) {
      FUZZ_CHECK(value.code != kQueryAgain);
      if (value.code != 0) FUZZ_CHECK(value.data.empty());
    }
  }
}

}  // namespace
}  // namespace glimmora::winreg

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace glimmora::winreg;
  if (size == 0) return 0;
  const std::span<const std::uint8_t> stub(data + 1, size - 1);
  switch (data[0] % 7) {
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
    case 6:
      glimmora::winreg::CheckReadAhead(stub);
      break;
    default:
      CheckRequests(std::string_view(reinterpret_cast<const char*>(stub.data()), stub.size()));
      break;
  }
  return 0;
}
