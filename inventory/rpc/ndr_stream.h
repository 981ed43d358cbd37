#pragma once
// NDR stub data with little-endian integers, written and read by hand: the
// writer aligns every primitive to its own size from the start of the stub,
// the reader does the same over untrusted bytes and never reads past them.
// Shared by the message files of each RPC interface the program speaks.

#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace glimmora::ndr {

using Bytes = std::vector<std::uint8_t>;

// A context handle on the wire: 20 opaque bytes, 4-byte aligned.
using ContextHandleBytes = std::array<std::uint8_t, 20>;

class Writer {
 public:
  void Align(std::size_t n) {
    while (bytes_.size() % n != 0) bytes_.push_back(0);
  }
  void U16(std::uint16_t v) {
    Align(2);
    bytes_.push_back(static_cast<std::uint8_t>(v));
    bytes_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    Align(4);
    for (int shift = 0; shift < 32; shift += 8)
      bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
  }
  void Handle(const ContextHandleBytes& handle) {
    Align(4);
    bytes_.insert(bytes_.end(), handle.begin(), handle.end());
  }
  void Zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void Append(std::span<const std::uint8_t> data) {
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
};

// A failed read latches, so a parser checks once.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  bool AtEnd() const { return ok_ && pos_ == bytes_.size(); }
  std::size_t Remaining() const { return ok_ ? bytes_.size() - pos_ : 0; }
  void Fail() { ok_ = false; }

  void Align(std::size_t n) {
    const std::size_t pad = (n - pos_ % n) % n;
    if (!ok_ || pad > bytes_.size() - pos_) {
      ok_ = false;
      return;
    }
    pos_ += pad;
  }
  std::uint16_t U16() {
    Align(2);
    if (!Has(2)) return 0;
    const std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
  }
  std::uint32_t U32() {
    Align(4);
    if (!Has(4)) return 0;
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | bytes_[pos_ + i];
    pos_ += 4;
    return v;
  }
  ContextHandleBytes Handle() {
    ContextHandleBytes handle{};
    Align(4);
    if (!Has(handle.size())) return handle;
    std::memcpy(handle.data(), bytes_.data() + pos_, handle.size());
    pos_ += handle.size();
    return handle;
  }
  // `count` bytes; the size is checked against what is left before anything
  // is allocated, so a huge count costs nothing.
  bool Raw(std::size_t count, Bytes* out) {
    if (!Has(count)) return false;
    out->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(pos_),
                bytes_.begin() + static_cast<std::ptrdiff_t>(pos_ + count));
    pos_ += count;
    return true;
  }
  bool Utf16(std::size_t count, std::u16string* out) {
    if (count > Remaining() / 2) {
      ok_ = false;
      return false;
    }
    out->resize(count);
    for (std::size_t i = 0; i < count; ++i) (*out)[i] = static_cast<char16_t>(U16());
    return ok_;
  }

 private:
  bool Has(std::size_t n) {
    if (!ok_ || n > bytes_.size() - pos_) ok_ = false;
    return ok_;
  }

  std::span<const std::uint8_t> bytes_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace glimmora::ndr
