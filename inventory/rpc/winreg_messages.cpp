#include "inventory/rpc/winreg_messages.h"

#include <algorithm>
#include <limits>

#include "common/utf8.h"
#include "inventory/ansi_conversion.h"
#include "inventory/registry/registry_access.h"
#include "inventory/rpc/ndr_stream.h"

namespace glimmora::winreg {
namespace {

// Any non-zero value marks a present pointer; this one is easy to spot in dumps.
constexpr std::uint32_t kReferentName = 0x00020000;
constexpr std::uint32_t kReferentClass = 0x00020004;
constexpr std::uint32_t kReferentClassName = 0x0002001c;
constexpr std::uint32_t kReferentTime = 0x00020008;
constexpr std::uint32_t kReferentType = 0x0002000c;
constexpr std::uint32_t kReferentData = 0x00020010;
constexpr std::uint32_t kReferentSize = 0x00020014;
constexpr std::uint32_t kReferentLength = 0x00020018;
// Where a call carries a list of pointers, they are numbered on from here in
// the order they go out, as Samba's encoder numbers them.
constexpr std::uint32_t kFirstReferent = 0x00020000;

using ndr::Reader;
using ndr::Writer;

// A counted UTF-16 string sent with its terminating zero: byte length,
// maximum byte length, a pointer, then the conformant varying array.
bool WriteCountedString(Writer& w, std::string_view utf8, std::uint32_t referent = kReferentName) {
  std::u16string text;
  if (!Utf8ToUtf16(utf8, &text)) return false;
  text.push_back(u'\0');
  if (text.size() > std::numeric_limits<std::uint16_t>::max() / 2) return false;
  const auto bytes = static_cast<std::uint16_t>(text.size() * 2);
  w.U16(bytes);
  w.U16(bytes);
  w.U32(referent);
  w.U32(static_cast<std::uint32_t>(text.size()));  // maximum count
  w.U32(0);                                        // offset
  w.U32(static_cast<std::uint32_t>(text.size()));  // actual count
  for (char16_t c : text) w.U16(static_cast<std::uint16_t>(c));
  return true;
}

// An empty string buffer of `sizeBytes`, offered for the server to fill.
void WriteEmptyStringBuffer(Writer& w, std::uint32_t referent, std::uint16_t sizeBytes) {
  w.U16(0);
  w.U16(sizeBytes);
  w.U32(referent);
  w.U32(sizeBytes / 2u);  // maximum count
  w.U32(0);               // offset
  w.U32(0);               // actual count
}

// The string buffer as answered: lengths, pointer and, when the pointer is
// set, the array, whose counts must agree with the lengths around them.
bool ReadStringBuffer(Reader& r, std::u16string* text) {
  const std::uint16_t lengthBytes = r.U16();
  const std::uint16_t sizeBytes = r.U16();
  const std::uint32_t pointer = r.U32();
  if (!r.ok() || lengthBytes > sizeBytes || lengthBytes % 2 != 0) return false;
  text->clear();
  if (pointer == 0) return lengthBytes == 0;
  const std::uint32_t maxCount = r.U32();
  const std::uint32_t offset = r.U32();
  const std::uint32_t actualCount = r.U32();
  if (!r.ok() || offset != 0 || actualCount > maxCount || actualCount != lengthBytes / 2u ||
      maxCount > sizeBytes / 2u + 1u) {
    return false;
  }
  return r.Utf16(actualCount, text);
}

bool ParseHandleResponse(std::span<const std::uint8_t> stub, HandleResponse* response) {
  Reader r(stub);
  response->handle.bytes = r.Handle();
  response->status = r.U32();
  return r.AtEnd();
}

// A unique pointer to one 32-bit value; absent leaves *value as it was.
bool ReadOptionalU32(Reader& r, std::uint32_t* value, bool* present) {
  *present = r.U32() != 0;
  if (*present) *value = r.U32();
  return r.ok();
}

}  // namespace

bool KeyHandle::IsNull() const {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

Bytes EncodeOpenLocalMachine(std::uint32_t accessMask) {
  Writer w;
  w.U32(0);  // no server name: the pipe already names the machine
  w.U32(accessMask);
  return w.Take();
}

bool EncodeOpenKey(const KeyHandle& parent, std::string_view utf8Path, std::uint32_t options,
                   std::uint32_t accessMask, Bytes* request) {
  Writer w;
  w.Handle(parent.bytes);
  if (!WriteCountedString(w, utf8Path)) return false;
  w.U32(options);
  w.U32(accessMask);
  *request = w.Take();
  return true;
}

Bytes EncodeEnumKey(const KeyHandle& key, std::uint32_t index) {
  Writer w;
  w.Handle(key.bytes);
  w.U32(index);
  WriteEmptyStringBuffer(w, kReferentName, kEnumNameBufferBytes);
  // The class buffer and the write time are asked for as well: some servers
  // refuse an enumeration that offers neither.
  w.U32(kReferentClass);
  WriteEmptyStringBuffer(w, kReferentClassName, kEnumNameBufferBytes);
  w.U32(kReferentTime);
  w.U32(0);  // last-write time, low and high halves: 4-byte aligned
  w.U32(0);
  return w.Take();
}

bool EncodeQueryValue(const KeyHandle& key, std::string_view utf8ValueName,
                      std::uint32_t dataBufferBytes, Bytes* request) {
  if (dataBufferBytes > kMaxValueDataBytes) return false;
  Writer w;
  w.Handle(key.bytes);
  if (!WriteCountedString(w, utf8ValueName)) return false;
  w.U32(kReferentType);
  w.U32(0);
  w.U32(kReferentData);
  w.U32(dataBufferBytes);  // maximum count: the buffer offered
  w.U32(0);                // offset
  w.U32(0);                // actual count: nothing sent in
  w.U32(kReferentSize);
  w.U32(dataBufferBytes);
  w.U32(kReferentLength);
  w.U32(0);
  *request = w.Take();
  return true;
}

bool EncodeQueryMultipleValues(const KeyHandle& key, std::span<const std::string_view> utf8Names,
                               std::uint32_t dataBufferBytes, Bytes* request) {
  if (utf8Names.empty() || dataBufferBytes > kMaxValueDataBytes) return false;
  const auto count = static_cast<std::uint32_t>(utf8Names.size());
  Writer w;
  w.Handle(key.bytes);
  // The entries: a name pointer each and three fields the server fills in.
  w.U32(count);  // maximum count
  w.U32(0);      // offset
  w.U32(count);  // actual count
  std::uint32_t referent = kFirstReferent;
  for (std::uint32_t i = 0; i < count; ++i) {
    w.U32(referent);
    referent += 4;
    w.U32(0);  // length of the data
    w.U32(0);  // its offset in the buffer
    w.U32(0);  // type
  }
  for (std::string_view name : utf8Names) {
    w.Align(4);
    if (!WriteCountedString(w, name, referent)) return false;
    referent += 4;
  }
  w.Align(4);
  w.U32(count);
  w.U32(referent);         // the buffer, sent in whole
  w.U32(dataBufferBytes);  // maximum count
  w.U32(0);                // offset
  w.U32(dataBufferBytes);  // actual count
  w.Zeros(dataBufferBytes);
  w.Align(4);
  w.U32(dataBufferBytes);
  *request = w.Take();
  return true;
}

Bytes EncodeCloseKey(const KeyHandle& key) {
  Writer w;
  w.Handle(key.bytes);
  return w.Take();
}

bool ParseOpenLocalMachine(std::span<const std::uint8_t> stub, HandleResponse* response) {
  return ParseHandleResponse(stub, response);
}
bool ParseOpenKey(std::span<const std::uint8_t> stub, HandleResponse* response) {
  return ParseHandleResponse(stub, response);
}
bool ParseCloseKey(std::span<const std::uint8_t> stub, HandleResponse* response) {
  return ParseHandleResponse(stub, response);
}

bool ParseEnumKey(std::span<const std::uint8_t> stub, EnumKeyResponse* response) {
  Reader r(stub);
  std::u16string name;
  if (!ReadStringBuffer(r, &name)) return false;
  if (r.U32() != 0) {  // the class: read for its size, not used
    std::u16string keyClass;
    if (!ReadStringBuffer(r, &keyClass)) return false;
  }
  if (r.U32() != 0) {  // the last-write time
    r.U32();
    r.U32();
  }
  response->status = r.U32();
  if (!r.AtEnd()) return false;
  name.resize(std::min(name.size(), name.find(u'\0')));
  response->nameUtf16.clear();
  for (char16_t unit : name) {
    response->nameUtf16.push_back(static_cast<char>(unit & 0xFF));
    response->nameUtf16.push_back(static_cast<char>(unit >> 8));
  }
  return true;
}

bool ParseQueryValue(std::span<const std::uint8_t> stub, QueryValueResponse* response) {
  Reader r(stub);
  std::uint32_t type = 0;
  bool hasType = false;
  if (!ReadOptionalU32(r, &type, &hasType)) return false;

  Bytes data;
  bool hasData = r.U32() != 0;
  if (hasData) {
    const std::uint32_t maxCount = r.U32();
    const std::uint32_t offset = r.U32();
    const std::uint32_t actualCount = r.U32();
    if (!r.ok() || offset != 0 || actualCount > maxCount || maxCount > kMaxValueDataBytes) {
      return false;
    }
    if (!r.Raw(actualCount, &data)) return false;
  }
  std::uint32_t size = 0;
  std::uint32_t length = 0;
  bool hasSize = false;
  bool hasLength = false;
  if (!ReadOptionalU32(r, &size, &hasSize) || !ReadOptionalU32(r, &length, &hasLength)) {
    return false;
  }
  const std::uint32_t status = r.U32();
  if (!r.AtEnd()) return false;
  // A successful answer must say what it sent, and no more than it has room for.
  if (status == 0) {
    if (!hasType || !hasData || !hasSize) return false;
    if (hasLength && length != data.size()) return false;
    if (data.size() > size) return false;
  }
  response->type = type;
  response->data = std::move(data);
  response->neededSize = size;
  response->status = status;
  return true;
}

bool ParseQueryMultipleValues(std::span<const std::uint8_t> stub, std::size_t namesAsked,
                              QueryMultipleValuesResponse* response) {
  Reader r(stub);
  const std::uint32_t maxCount = r.U32();
  const std::uint32_t offset = r.U32();
  const std::uint32_t count = r.U32();
  if (!r.ok() || offset != 0 || count != maxCount || count != namesAsked) return false;
  struct Entry {
    bool named;
    std::uint32_t length, position, type;
  };
  std::vector<Entry> entries(count);
  for (Entry& entry : entries) {
    entry.named = r.U32() != 0;
    entry.length = r.U32();
    entry.position = r.U32();
    entry.type = r.U32();
  }
  for (const Entry& entry : entries) {
    if (!entry.named) continue;
    r.Align(4);
    std::u16string name;  // the name asked for, said back
    if (!ReadStringBuffer(r, &name)) return false;
  }
  r.Align(4);
  Bytes buffer;
  if (r.U32() != 0) {
    const std::uint32_t bufferMax = r.U32();
    const std::uint32_t bufferOffset = r.U32();
    const std::uint32_t bufferLength = r.U32();
    if (!r.ok() || bufferOffset != 0 || bufferLength > bufferMax ||
        bufferMax > kMaxValueDataBytes || !r.Raw(bufferLength, &buffer)) {
      return false;
    }
  }
  r.Align(4);
  const std::uint32_t needed = r.U32();
  const std::uint32_t status = r.U32();
  if (!r.AtEnd()) return false;
  response->values.clear();
  response->neededSize = needed;
  response->status = status;
  if (status != 0) return true;
  for (const Entry& entry : entries) {
    if (entry.position > buffer.size() || entry.length > buffer.size() - entry.position)
      return false;
    const auto first = buffer.begin() + static_cast<std::ptrdiff_t>(entry.position);
    response->values.push_back(
        {entry.type, Bytes(first, first + static_cast<std::ptrdiff_t>(entry.length))});
  }
  return true;
}

bool Utf8ToUtf16(std::string_view utf8, std::u16string* utf16) {
  utf16->clear();
  utf16->reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const Utf8Sequence sequence = DecodeUtf8(utf8.substr(i));
    if (!sequence.valid) return false;
    char32_t c = sequence.codePoint;
    if (c >= 0x10000) {
      c -= 0x10000;
      utf16->push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      utf16->push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      utf16->push_back(static_cast<char16_t>(c));
    }
    i += sequence.length;
  }
  return true;
}

Bytes ValueDataToAnsi(std::uint32_t type, std::span<const std::uint8_t> data) {
  if (type != kRegSz && type != kRegExpandSz && type != kRegMultiSz) {
    return Bytes(data.begin(), data.end());
  }
  const std::string text =
      AnsiFromUtf16(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  return Bytes(text.begin(), text.end());
}

}  // namespace glimmora::winreg
