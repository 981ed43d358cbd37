#pragma once
// One move-only owner for every kind of handle: registry keys, sockets, files,
// echo handles. A traits type names the empty value and how to release it.
//
//   struct FileTraits {
//     using Handle = std::FILE*;
//     static Handle Invalid() noexcept { return nullptr; }
//     static void Close(Handle h) noexcept { std::fclose(h); }
//   };
//   using UniqueFile = UniqueHandle<FileTraits>;

#include <utility>

namespace glimmora {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept : handle_(Traits::Invalid()) {}
  explicit UniqueHandle(Handle h) noexcept : handle_(h) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::Invalid(); }

  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle h = Traits::Invalid()) noexcept {
    Handle old = std::exchange(handle_, h);
    if (old != Traits::Invalid()) Traits::Close(old);
  }

 private:
  Handle handle_;
};

}  // namespace glimmora
