#include "common/secret_memory.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#elif defined(__linux__)
#include <sys/prctl.h>
#endif

namespace glimmora {

void WipeMemory(void* data, std::size_t size) {
  if (data == nullptr || size == 0) return;
#ifdef _WIN32
  SecureZeroMemory(data, size);
#elif defined(__GLIBC__)
  explicit_bzero(data, size);
#else
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
  while (size-- > 0) *bytes++ = 0;
#endif
}

void WipeString(std::string* text) {
  // Every byte the buffer may have held, not only the current length.
  text->resize(text->capacity());
  WipeMemory(text->data(), text->size());
  text->clear();
}

void KeepOutOfCoreDumps() {
#ifdef __linux__
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
#endif
}

}  // namespace glimmora
